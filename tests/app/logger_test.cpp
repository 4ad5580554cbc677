// Log lines: their exact layout, which levels reach the console, whole lines from threads
// that log at the same time; a console that stops taking lines, and one that fails.
#include "app/logger.hpp"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <thread>

namespace keelwave::test {
namespace {

using boost::posix_time::time_from_string;

boost::posix_time::ptime bannerTime() {
    return time_from_string("2018-04-30 09:05:07.042999");
}

TEST(Logger, FormatsEachLineAsStampLevelWordAndText) {
    struct Case {
        const char* time;
        int level;
        std::string text;
        std::string line;
    };
    const Case cases[] = {
        {"2018-04-30 09:05:07.042999", 3, "Keelwave v.20180430",
         "2018-04-30 09:05:07.042  INFO     Keelwave v.20180430"},
        {"2018-04-30 23:59:59.999999", 0, "x", "2018-04-30 23:59:59.999  ERROR    x"},
        {"2019-01-01 00:00:00.000", 1, "x", "2019-01-01 00:00:00.000  WARNING  x"},
        {"2019-01-01 00:00:00.000", 2, "two\nlines",
         "2019-01-01 00:00:00.000  NOTICE   two\nlines"},
        {"2019-01-01 00:00:00.000", -1, "", "2019-01-01 00:00:00.000  ERROR    "},
        {"2019-01-01 00:00:00.000", 4, "", "2019-01-01 00:00:00.000  ERROR    "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Logger::formatLine(time_from_string(c.time), c.level, c.text), c.line);
    }
}

TEST(Logger, WritesLevelsUpToTheConsoleMaximumOnceSwitchedOn) {
    for (const bool writerThread : {false, true}) {
        SCOPED_TRACE(writerThread ? "writer thread" : "written by the caller");
        std::ostringstream out;
        Logger logger(out, &bannerTime);
        if (writerThread) {
            logger.startConsoleWriter(false);
        }
        logger.log(Logger::ERROR, "before the switch");
        logger.setConsole(true, Logger::INFO);
        for (int level = -1; level <= 4; ++level) {
            logger.log(level, std::to_string(level));
        }
        EXPECT_TRUE(logger.drainConsole());
        EXPECT_EQ(out.str(),
                  "2018-04-30 09:05:07.042  ERROR    -1\n2018-04-30 09:05:07.042  ERROR    0\n"
                  "2018-04-30 09:05:07.042  WARNING  1\n2018-04-30 09:05:07.042  NOTICE   2\n"
                  "2018-04-30 09:05:07.042  INFO     3\n");
    }
}

TEST(Logger, LinesFromTwoThreadsNeverMix) {
    std::ostringstream out;
    Logger logger(out, &bannerTime);
    logger.setConsole(true, Logger::INFO);
    const auto writer = [&logger](const std::string& text) {
        for (int line = 0; line < 2000; ++line) {
            logger.log(Logger::INFO, text);
        }
    };
    std::thread a(writer, std::string(100, 'a'));
    std::thread b(writer, std::string(100, 'b'));
    a.join();
    b.join();
    std::istringstream lines(out.str());
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_THAT(line.substr(34), testing::AnyOf(std::string(100, 'a'), std::string(100, 'b')));
    }
    EXPECT_EQ(count, 4000);
}

/// A console that takes nothing until it is opened, as a full pipe or a paused terminal.
class GatedConsole : public std::streambuf {
public:
    void waitUntilWritten() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return written; });
    }
    void open() {
        const std::lock_guard<std::mutex> guard(lock);
        opened = true;
        changed.notify_all();
    }
    /// The texts of the lines taken, after time stamp and level word.
    std::vector<std::string> texts() {
        const std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> result;
        std::istringstream lines(taken);
        for (std::string line; std::getline(lines, line);) {
            result.push_back(line.substr(25));
        }
        return result;
    }

private:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        std::unique_lock<std::mutex> guard(lock);
        written = true;
        changed.notify_all();
        changed.wait(guard, [this] { return opened; });
        taken.append(text, static_cast<std::size_t>(count));
        return count;
    }

    std::mutex lock;
    std::condition_variable changed;
    bool written = false;
    bool opened = false;
    std::string taken;
};

std::string info(const std::string& text) {
    return "INFO     " + text;
}

/// "INFO     <prefix><first>" to "INFO     <prefix><last - 1>".
std::vector<std::string> numbered(const std::string& prefix, std::size_t first, std::size_t last) {
    std::vector<std::string> lines;
    for (std::size_t number = first; number < last; ++number) {
        lines.push_back(info(prefix + std::to_string(number)));
    }
    return lines;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Logger, AStuckConsoleHoldsUpNoCallerAndTheLinesItMissedAreCountedInOneLine) {
    GatedConsole console;
    std::ostream out(&console);
    Logger logger(out, &bannerTime);
    logger.setConsole(true, Logger::INFO);
    logger.startConsoleWriter(false);
    logger.log(Logger::INFO, "first");
    console.waitUntilWritten();  // the writer is stuck on it
    constexpr std::size_t missed = 10;
    for (std::size_t number = 0; number < Logger::consoleQueueLines + missed; ++number) {
        logger.log(Logger::INFO, std::to_string(number));
    }
    console.open();
    EXPECT_TRUE(logger.drainConsole());
    logger.log(Logger::INFO, "after");
    EXPECT_TRUE(logger.drainConsole());
    const auto expected =
        std::vector<std::string>{info("first")} + numbered("", 0, Logger::consoleQueueLines) +
        std::vector<std::string>{"ERROR    Console too slow, lines dropped: 10", info("after")};
    EXPECT_EQ(console.texts(), expected);
}

TEST(Logger, WithARecordingCallersWaitForTheConsoleButTheEventLoopNeverDoes) {
    GatedConsole console;
    std::ostream out(&console);
    Logger logger(out, &bannerTime);
    logger.setConsole(true, Logger::INFO);
    logger.startConsoleWriter(true);  // this thread stands for the event loop
    logger.log(Logger::INFO, "first");
    console.waitUntilWritten();

    constexpr std::size_t channelLines = 5000;
    constexpr std::size_t waitsAt = Logger::consoleQueueLines - Logger::eventLoopReserveLines;
    std::atomic<std::size_t> logged{0};
    std::thread channel([&] {
        for (std::size_t number = 0; number < channelLines; ++number) {
            logger.log(Logger::INFO, "channel " + std::to_string(number));
            ++logged;
        }
    });
    while (logged < waitsAt) {
        std::this_thread::yield();
    }
    constexpr std::size_t eventLines = 100;
    for (std::size_t number = 0; number < eventLines; ++number) {
        logger.log(Logger::INFO, "event " + std::to_string(number));
    }
    EXPECT_EQ(logged, waitsAt);  // the console has taken nothing, so the channel still waits
    // Stopping frees the channel: it fills the queue, and the rest of its lines are dropped.
    logger.stopWaitingForConsole();
    channel.join();
    console.open();
    EXPECT_TRUE(logger.drainConsole());
    const std::size_t queuedLater = Logger::consoleQueueLines - waitsAt - eventLines;
    const auto expected =
        std::vector<std::string>{info("first")} + numbered("channel ", 0, waitsAt) +
        numbered("event ", 0, eventLines) + numbered("channel ", waitsAt, waitsAt + queuedLater) +
        std::vector<std::string>{"ERROR    Console too slow, lines dropped: " +
                                 std::to_string(channelLines - waitsAt - queuedLater)};
    EXPECT_EQ(console.texts(), expected);
}

/// A console whose every write fails as on a full disk.
class FullConsole : public std::streambuf {
    std::streamsize xsputn(const char*, std::streamsize) override {
        errno = ENOSPC;
        return 0;
    }
};

TEST(Logger, TheFirstFailedWriteIsReportedOnceAndRemembered) {
    for (const bool writerThread : {false, true}) {
        SCOPED_TRACE(writerThread ? "writer thread" : "written by the caller");
        FullConsole full;
        std::ostream out(&full);
        std::ostringstream errors;
        Logger logger(out, &bannerTime, errors);
        logger.setConsole(true, Logger::INFO);
        if (writerThread) {
            logger.startConsoleWriter(false);
        }
        logger.log(Logger::INFO, "lost");
        logger.log(Logger::INFO, "lost too");
        EXPECT_FALSE(logger.drainConsole());
        EXPECT_EQ(errors.str(), "Error: cannot write the log: No space left on device\n");
    }
}

}  // namespace
}  // namespace keelwave::test
