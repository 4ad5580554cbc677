#pragma once

#include "app/logger.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

/// Captures the process logger's lines for one test: the logger writes into a buffer that the
/// test reads safely from its own thread. The logger's previous output is restored afterwards.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// Every complete line so far, with the time stamp and level word.
    std::vector<std::string> lines();

    /// The texts of the lines (after stamp and level word), and their level words.
    std::vector<std::string> texts();

    /// Waits until some line's text contains `fragment`; true if one did in time.
    bool waitFor(const std::string& fragment,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));

    /// Waits until `count` lines' texts contain `fragment`.
    bool waitForCount(const std::string& fragment, std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    class Buffer : public std::streambuf {
    public:
        explicit Buffer(LogCapture& capture) : owner(capture) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* s, std::streamsize n) override;

    private:
        LogCapture& owner;
    };

    std::size_t countMatching(const std::string& fragment);

    std::mutex lock;
    std::condition_variable grew;
    std::string text;
    Buffer buffer{*this};
    std::ostream stream{&buffer};
};

/// The text of a logger line: what follows the 23-character stamp, two spaces and the word.
std::string logText(const std::string& line);
