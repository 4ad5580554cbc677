#include "sdr/channel_group.hpp"

#include "tests/sdr/recording_decoder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

TEST(ChannelGroup, KeepsOnlyTheFirstOfConcurrentFailuresAndAnnouncesItOnce) {
    ChannelGroup group;
    std::atomic<int> announced{0};
    group.setFailureCallback([&announced] { ++announced; });
    EXPECT_FALSE(group.failure());
    std::vector<std::exception_ptr> failures;
    for (int n = 0; n < 8; ++n) {
        failures.push_back(std::make_exception_ptr(std::runtime_error(std::to_string(n))));
    }
    std::vector<std::thread> reporters;
    for (const std::exception_ptr& failed : failures) {
        reporters.emplace_back([&group, failed] { group.reportFailure(failed); });
    }
    for (std::thread& reporter : reporters) {
        reporter.join();
    }
    EXPECT_EQ(announced, 1);
    ASSERT_TRUE(group.failure());
    EXPECT_NE(std::find(failures.begin(), failures.end(), group.failure()), failures.end());
    group.reportFailure(std::make_exception_ptr(std::runtime_error("later")));
    EXPECT_EQ(announced, 1);
}

TEST(ChannelGroup, StartedChannelsStopAndTheGroupCanStartAgain) {
    ChannelGroup group;
    group.addChannel(std::make_unique<SdrChannel>(162025000, std::make_unique<RecordingDecoder>()));
    group.addChannel(std::make_unique<SdrChannel>(161975000, std::make_unique<RecordingDecoder>()));
    EXPECT_FALSE(group.channelsRunning());
    for (int round = 0; round < 2; ++round) {
        group.startChannels();
        EXPECT_TRUE(group.channelsRunning());
        EXPECT_FALSE(group.handoff().stopping);
        group.stopChannels();
        EXPECT_FALSE(group.channelsRunning());
        EXPECT_TRUE(group.handoff().stopping);
    }
    EXPECT_EQ(group.channelList()[0]->demodulator.phaseIncrement, -0.54524088f);
}
