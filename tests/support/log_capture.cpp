#include "tests/support/log_capture.hpp"

#include <iostream>
#include <sstream>

namespace {
constexpr std::size_t prefixLength = 23 + 2 + 9;  // stamp, two spaces, level word
}

std::string logText(const std::string& line) {
    return line.size() >= prefixLength ? line.substr(prefixLength) : std::string();
}

LogCapture::LogCapture() {
    Logger::instance().setOutput(stream);
    Logger::instance().setConsole(true, Logger::INFO);
}

LogCapture::~LogCapture() {
    Logger::instance().setConsole(false, Logger::INFO);
    Logger::instance().setOutput(std::cout);
}

LogCapture::Buffer::int_type LogCapture::Buffer::overflow(int_type c) {
    if (c != traits_type::eof()) {
        const char ch = traits_type::to_char_type(c);
        xsputn(&ch, 1);
    }
    return traits_type::not_eof(c);
}

std::streamsize LogCapture::Buffer::xsputn(const char* s, std::streamsize n) {
    std::lock_guard<std::mutex> guard(owner.lock);
    owner.text.append(s, static_cast<std::size_t>(n));
    owner.grew.notify_all();
    return n;
}

std::vector<std::string> LogCapture::lines() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        result.push_back(text.substr(start, end - start));
    }
    return result;
}

std::vector<std::string> LogCapture::texts() {
    std::vector<std::string> result;
    for (const std::string& line : lines()) {
        result.push_back(logText(line));
    }
    return result;
}

std::size_t LogCapture::countMatching(const std::string& fragment) {
    std::size_t count = 0;
    for (std::size_t at = text.find(fragment); at != std::string::npos;
         at = text.find(fragment, at + 1)) {
        ++count;
    }
    return count;
}

bool LogCapture::waitFor(const std::string& fragment, std::chrono::milliseconds timeout) {
    return waitForCount(fragment, 1, timeout);
}

bool LogCapture::waitForCount(const std::string& fragment, std::size_t count,
                              std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    return grew.wait_for(guard, timeout, [&] { return countMatching(fragment) >= count; });
}
