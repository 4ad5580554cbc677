#include "app/logger.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <sstream>
#include <thread>
#include <vector>

using boost::posix_time::ptime;
using testing::ElementsAre;

namespace {

ptime bannerMoment() {
    return ptime(boost::gregorian::date(2018, 4, 30), boost::posix_time::time_duration(9, 5, 7) +
                                                          boost::posix_time::microseconds(42999));
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

}  // namespace

TEST(Logger, FormatsTheBannerLineExactly) {
    std::ostringstream out;
    Logger logger(out, &bannerMoment);
    logger.setConsole(true, Logger::INFO);
    logger.log(Logger::INFO, "Keelwave v.20180430");
    // Milliseconds are the microseconds truncated: 42999 us prints as .042.
    EXPECT_EQ(out.str(), "2018-04-30 09:05:07.042  INFO     Keelwave v.20180430\n");
}

TEST(Logger, MidnightPrintsHourZeroAndTheNewDate) {
    const ptime midnight(boost::gregorian::date(2019, 1, 1), boost::posix_time::microseconds(999));
    EXPECT_EQ(Logger::formatLine(midnight, Logger::INFO, "x"),
              "2019-01-01 00:00:00.000  INFO     x");
}

TEST(Logger, EveryLevelHasItsNineCharacterWordAndUnknownLevelsPrintAsError) {
    std::ostringstream out;
    Logger logger(out, &bannerMoment);
    logger.setConsole(true, Logger::INFO);
    for (int level : {Logger::ERROR, Logger::WARNING, Logger::NOTICE, Logger::INFO, -1}) {
        logger.log(level, "t");
    }
    std::vector<std::string> words;
    for (const std::string& line : lines(out.str())) {
        words.push_back(line.substr(25, 9));
    }
    EXPECT_THAT(words,
                ElementsAre("ERROR    ", "WARNING  ", "NOTICE   ", "INFO     ", "ERROR    "));
}

TEST(Logger, WritesNothingUntilSwitchedOnAndNothingAboveTheMaximumLevel) {
    std::ostringstream out;
    Logger logger(out, &bannerMoment);
    logger.log(Logger::ERROR, "before the console is on");
    logger.setConsole(true, Logger::INFO);
    logger.log(4, "too detailed");
    logger.log(Logger::INFO, "kept");
    EXPECT_THAT(lines(out.str()), ElementsAre(testing::EndsWith("INFO     kept")));
}

TEST(Logger, TextIsWrittenUnchangedEvenWhenEmptyOrMultiLine) {
    std::ostringstream out;
    Logger logger(out, &bannerMoment);
    logger.setConsole(true, Logger::INFO);
    logger.log(Logger::INFO, "");
    logger.log(Logger::ERROR, "first\nsecond");
    EXPECT_EQ(out.str(),
              "2018-04-30 09:05:07.042  INFO     \n"
              "2018-04-30 09:05:07.042  ERROR    first\nsecond\n");
}

TEST(Logger, RealClockLinesMatchTheFormat) {
    std::ostringstream out;
    Logger logger(out);
    logger.setConsole(true, Logger::INFO);
    logger.log(Logger::INFO, "Keelwave v.20180430");
    EXPECT_THAT(out.str(),
                testing::MatchesRegex(R"([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.)"
                                      R"([0-9]{3}  INFO     Keelwave v\.20180430)"
                                      "\n"));
}

TEST(Logger, ConcurrentCallersProduceWholeLines) {
    std::ostringstream out;
    Logger logger(out);
    logger.setConsole(true, Logger::INFO);
    const std::string first(200, 'a');
    const std::string second(200, 'b');
    constexpr int linesPerThread = 2000;
    std::thread a([&] {
        for (int i = 0; i < linesPerThread; ++i)
            logger.log(Logger::INFO, first);
    });
    std::thread b([&] {
        for (int i = 0; i < linesPerThread; ++i)
            logger.log(Logger::ERROR, second);
    });
    a.join();
    b.join();
    const auto written = lines(out.str());
    ASSERT_EQ(written.size(), 2u * linesPerThread);
    for (const std::string& line : written) {
        const std::string text = line.substr(34);
        ASSERT_TRUE(text == first || text == second) << line;
    }
}
