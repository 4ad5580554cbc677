#include "base/logger.hpp"

#include "base/standard_output.hpp"

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <system_error>

namespace keelwave::base {

Logger& Logger::instance() {
    static Logger* const processLogger = [] {
        // Its first use is the program's first action, before anything opens a descriptor.
        occupyClosedStandardDescriptors();
        return new Logger(standardOutput());
    }();
    return *processLogger;
}

Logger::Logger(std::ostream& out, Clock clockSource) : Logger(out, clockSource, std::cerr) {}

Logger::Logger(std::ostream& out, Clock clockSource, std::ostream& errorStream)
    : output(&out), errors(&errorStream), clock(clockSource) {}

Logger::~Logger() {
    {
        Lock guard(lock);
        if (!writerStarted) {
            return;
        }
        writerStopping = true;
    }
    // The writer empties the queue before it returns.
    lineQueued.notify_one();
    writer.join();
}

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
    Lock guard(lock);
    if (consoleEnabled && level <= consoleMaxLevel) {
        // Stamped once it has its place, so the time stamps rise in the order of the lines.
        enqueue(guard, [&] { return formatLine(clock(), level, text) + '\n'; });
    }
}

void Logger::print(const std::string& text) {
    Lock guard(lock);
    enqueue(guard, [&] { return text + '\n'; });
}

template <class MakeLine>
void Logger::enqueue(Lock&, MakeLine makeLine) {
    if (!writerStarted) {
        writeLine(*output, makeLine());
        return;
    }
    if (droppedLines > 0 || queue.size() >= consoleQueueLines) {
        ++droppedLines;
        return;
    }
    queue.push_back(makeLine());
    ++linesQueued;
    lineQueued.notify_one();
}

bool Logger::hasRoom(std::size_t lines) {
    Lock guard(lock);
    return !writerStarted ||
           (droppedLines == 0 && queue.size() + lines + reservedLines <= consoleQueueLines);
}

void Logger::setConsole(bool enabled, int maxLevel) {
    Lock guard(lock);
    consoleEnabled = enabled;
    consoleMaxLevel = maxLevel;
}

void Logger::setOutput(std::ostream& out) {
    Lock guard(lock);
    consoleProgress.wait(guard, [this] { return idle(); });
    output = &out;
}

void Logger::startConsoleWriter(bool recordingInput) {
    Lock guard(lock);
    recording = recordingInput;
    if (!writerStarted) {
        writer = std::thread([this] { writeQueuedLines(); });
        writerStarted = true;
    }
}

void Logger::stopWaitingForConsole() {
    {
        Lock guard(lock);
        stopRequested = true;
    }
    consoleProgress.notify_all();
}

bool Logger::drainConsole() {
    Lock guard(lock);
    // The lines queued so far and the count of those dropped, not any logged meanwhile by a
    // thread that is still running.
    const unsigned long long target = linesQueued + (droppedLines > 0 ? 1 : 0);
    while (linesWritten < target) {
        if (recording && !stopRequested) {
            consoleProgress.wait(guard);
            continue;
        }
        const unsigned long long written = linesWritten;
        const bool progressed = consoleProgress.wait_for(guard, consoleStallLimit,
                                                         [&] { return linesWritten != written; });
        if (!progressed) {
            break;
        }
    }
    return !writeFailed;
}

void Logger::writeQueuedLines() {
    Lock guard(lock);
    for (;;) {
        lineQueued.wait(guard,
                        [this] { return !queue.empty() || droppedLines > 0 || writerStopping; });
        if (queue.empty() && droppedLines > 0) {
            // The console has taken everything from before the gap: say how large it is.
            queue.push_back(
                formatLine(clock(), ERROR,
                           "Console too slow, lines dropped: " + std::to_string(droppedLines)) +
                '\n');
            ++linesQueued;
            droppedLines = 0;
        }
        if (queue.empty()) {
            return;  // told to stop, and everything is written
        }
        const std::string line = std::move(queue.front());
        queue.pop_front();
        writing = true;
        std::ostream& out = *output;
        guard.unlock();
        writeLine(out, line);  // as long as the console takes
        guard.lock();
        writing = false;
        ++linesWritten;
        consoleProgress.notify_all();
    }
}

void Logger::writeLine(std::ostream& out, const std::string& line) {
    // The stream's buffer directly: one call for the whole line, then the flush, and the
    // stream's own state, which other threads may read, is left alone.
    std::streambuf* const sink = out.rdbuf();
    const auto size = static_cast<std::streamsize>(line.size());
    errno = 0;
    if (sink != nullptr && sink->sputn(line.data(), size) == size && sink->pubsync() == 0) {
        return;
    }
    const int reason = errno != 0 ? errno : EIO;
    if (!writeFailed.exchange(true)) {
        const std::string report =
            "Error: cannot write the log: " + std::generic_category().message(reason) + "\n";
        errors->write(report.data(), static_cast<std::streamsize>(report.size()));
        errors->flush();
    }
}

}  // namespace keelwave::base
