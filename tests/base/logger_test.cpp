// Log lines: their exact layout, which levels reach the console, and the lines a console that
// takes nothing misses. (Lines of threads logging at once are the end-to-end runs' concern.)
#include "base/logger.hpp"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <sstream>
#include <streambuf>
#include <tuple>

namespace keelwave::test {
namespace {

using namespace base;

using boost::posix_time::time_from_string;

boost::posix_time::ptime bannerTime() {
    return time_from_string("2018-04-30 09:05:07.042999");
}

TEST(Logger, FormatsEachLineAsStampLevelWordAndText) {
    for (const auto& [time, text, line] :
         {std::tuple{"2018-04-30 23:59:59.999999", "x", "2018-04-30 23:59:59.999  INFO     x"},
          {"2019-01-01 00:00:00.000", "two\nlines", "2019-01-01 00:00:00.000  INFO     two\nlines"},
          {"2019-01-01 00:00:00.000", "", "2019-01-01 00:00:00.000  INFO     "}}) {
        EXPECT_EQ(Logger::formatLine(time_from_string(time), Logger::INFO, text), line);
    }
}

TEST(Logger, WritesLevelsUpToTheConsoleMaximumOnceSwitchedOn) {
    std::ostringstream out;
    Logger logger(out, &bannerTime);
    logger.log(Logger::ERROR, "before the switch");
    logger.setConsole(true, Logger::INFO);
    for (int level = -1; level <= 4; ++level) {
        logger.log(level, std::to_string(level));
    }
    EXPECT_EQ(out.str(),
              "2018-04-30 09:05:07.042  ERROR    -1\n2018-04-30 09:05:07.042  ERROR    0\n"
              "2018-04-30 09:05:07.042  WARNING  1\n2018-04-30 09:05:07.042  NOTICE   2\n"
              "2018-04-30 09:05:07.042  INFO     3\n");
}

/// A console that takes nothing until it is opened, as a full pipe or a paused terminal.
struct GatedConsole : std::streambuf {
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        if (!writing.exchange(true)) {
            firstWrite.set_value();
        }
        opened.wait();
        taken.append(text, static_cast<std::size_t>(count));
        return count;
    }
    std::atomic<bool> writing{false};
    std::promise<void> firstWrite;
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::string taken;  // read once the logger has drained
};

TEST(Logger, AStuckConsoleHoldsUpNoCallerAndTheLinesItMissedAreCountedInOneLine) {
    GatedConsole console;
    std::ostream out(&console);
    Logger logger(out, &bannerTime);
    logger.setConsole(true, Logger::INFO);
    logger.startConsoleWriter(false);
    logger.log(Logger::INFO, "stuck");
    console.firstWrite.get_future().wait();
    // A caller that must lose nothing asks first: room until the reserve is reached.
    std::size_t queued = 0;
    while (logger.hasRoom(1)) {
        logger.log(Logger::INFO, std::to_string(++queued));
    }
    EXPECT_EQ(queued, Logger::consoleQueueLines - Logger::reservedLines);
    auto logging = std::async(std::launch::async, [&logger, &queued] {
        while (queued < Logger::consoleQueueLines + 10) {
            logger.log(Logger::INFO, std::to_string(++queued));
        }
    });
    EXPECT_EQ(logging.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_FALSE(logger.hasRoom(1));
    console.open.set_value();
    EXPECT_TRUE(logger.drainConsole());
    EXPECT_TRUE(logger.hasRoom(1));
    logger.log(Logger::INFO, "after");
    EXPECT_TRUE(logger.drainConsole());
    const std::string stamp = "2018-04-30 09:05:07.042  ";
    EXPECT_THAT(console.taken, testing::EndsWith("INFO     4096\n" + stamp +
                                                 "ERROR    Console too slow, lines dropped: 10\n" +
                                                 stamp + "INFO     after\n"));
    EXPECT_EQ(std::count(console.taken.begin(), console.taken.end(), '\n'),
              Logger::consoleQueueLines + 3);
}

}  // namespace
}  // namespace keelwave::test
