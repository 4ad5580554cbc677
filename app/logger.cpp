#include "app/logger.hpp"

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <cstdio>
#include <iostream>

namespace {
// Constructed during static initialisation, before main runs, and kept to process exit.
Logger processLogger(std::cout);
}  // namespace

Logger& Logger::instance() {
    return processLogger;
}

Logger::Logger(std::ostream& out, Clock clockSource) : output(&out), clock(clockSource) {}

boost::posix_time::ptime Logger::localTime() {
    return boost::posix_time::microsec_clock::local_time();
}

const char* Logger::levelWord(int level) {
    switch (level) {
        case WARNING:
            return "WARNING  ";
        case NOTICE:
            return "NOTICE   ";
        case INFO:
            return "INFO     ";
        default:
            return "ERROR    ";
    }
}

std::string Logger::formatLine(const boost::posix_time::ptime& now, int level,
                               const std::string& text) {
    const auto date = now.date();
    const auto time = now.time_of_day();
    const long long microseconds = time.total_microseconds() % 1000000;
    // "2018-04-30 09:05:07.042  " is at most 28 characters for any four-digit year.
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d.%03d  ",
                  static_cast<int>(date.year()), static_cast<int>(date.month()),
                  static_cast<int>(date.day()), static_cast<int>(time.hours()),
                  static_cast<int>(time.minutes()), static_cast<int>(time.seconds()),
                  static_cast<int>(microseconds / 1000));
    std::string line(stamp);
    line += levelWord(level);
    line += text;
    return line;
}

void Logger::log(int level, const std::string& text) {
    boost::mutex::scoped_lock guard(lock);
    const std::string line = formatLine(clock(), level, text);
    if (consoleEnabled && level <= consoleMaxLevel) {
        *output << line << std::endl;
    }
}

void Logger::setConsole(bool enabled, int maxLevel) {
    boost::mutex::scoped_lock guard(lock);
    consoleEnabled = enabled;
    consoleMaxLevel = maxLevel;
}

void Logger::setOutput(std::ostream& out) {
    boost::mutex::scoped_lock guard(lock);
    output = &out;
}
