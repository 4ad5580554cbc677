#include "sdr/sdr_device.hpp"

#include "app/sdr_exception.hpp"
#include "tests/sdr/standin_device.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <ostream>
#include <stdexcept>

using namespace std::chrono_literals;
using testing::Contains;
using testing::Not;

TEST_F(SdrDeviceTest, StreamsTheTunerIntoBothChannels) {
    streamTone(1.0);
    SdrDevice device(0);
    device.open();
    addChannels(device);
    device.configure(std::nullopt, std::nullopt);
    device.start();
    ASSERT_TRUE(decoders[0]->waitForCalls(2, 10s));
    ASSERT_TRUE(decoders[1]->waitForCalls(2, 10s));
    device.stop();
    EXPECT_FALSE(device.failure());
    EXPECT_FALSE(device.captureRunning());
    std::vector<int16_t> samples = decoders[0]->samples();
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    EXPECT_NEAR(samples[samples.size() / 2], 1638, 2);  // 2400 Hz / 1.46484375 Hz per unit
    EXPECT_THAT(decoders[0]->counts(), testing::Each(4096));
    EXPECT_THAT(decoders[1]->counts(), testing::Each(4096));
    const std::vector<std::string> made = calls();
    EXPECT_THAT(made, Contains("rtlsdr_reset_buffer"));
    EXPECT_THAT(made, Contains("rtlsdr_read_async 16 102400"));
    EXPECT_THAT(made, Contains("rtlsdr_cancel_async"));
}

struct CaptureFailureCase {
    const char* name;
    const char* fail;  // RTLSDR_STANDIN_FAIL
    const char* message;
};

void PrintTo(const CaptureFailureCase& each, std::ostream* out) {
    *out << each.name;
}

class CaptureFailureTest : public SdrDeviceTest,
                           public testing::WithParamInterface<CaptureFailureCase> {};

TEST_P(CaptureFailureTest, ReachesTheOwnerAndStopStillSucceeds) {
    setenv("RTLSDR_STANDIN_FAIL", GetParam().fail, 1);
    SdrDevice device(0);
    device.open();
    addChannels(device);
    std::future<void> seen = watchFailures(device);
    device.start();
    ASSERT_EQ(seen.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(messageOf(device.failure()), GetParam().message);
    EXPECT_NO_THROW(device.stop());
    EXPECT_FALSE(device.captureRunning());
    // The read has ended already: librtlsdr would refuse to cancel it.
    EXPECT_THAT(calls(), Not(Contains("rtlsdr_cancel_async")));
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CaptureFailureTest,
    testing::Values(CaptureFailureCase{"ResetBuffer", "rtlsdr_reset_buffer=-1:5",
                                       "rtlsdr_reset_buffer(): Input/output error"},
                    CaptureFailureCase{"ReadAsync", "rtlsdr_read_async=-4:19",
                                       "rtlsdr_read_async(): No such device"}),
    [](const testing::TestParamInfo<CaptureFailureCase>& failure) { return failure.param.name; });

TEST_F(SdrDeviceTest, DecoderFailureOnAChannelThreadReachesTheOwner) {
    streamTone(1.0);
    SdrDevice device(0);
    device.open();
    addChannels(device);
    decoders[1]->onProcess([](int32_t) { throw std::runtime_error("decoder broke"); });
    std::future<void> seen = watchFailures(device);
    device.start();
    ASSERT_EQ(seen.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(messageOf(device.failure()), "decoder broke");
    EXPECT_NO_THROW(device.stop());
}

TEST_F(SdrDeviceTest, FailedCancelStillStopsTheChannelsAndReturnsPromptly) {
    // The stand-in's failing cancel does not cancel: the capture thread stays in its read.
    setenv("RTLSDR_STANDIN_FAIL", "rtlsdr_cancel_async=-1:5", 1);
    SdrDevice device(0);
    device.open();
    addChannels(device);
    device.start();
    waitUntilReading();
    const auto before = std::chrono::steady_clock::now();
    try {
        device.stop();
        FAIL() << "no exception";
    } catch (const SdrException& error) {
        EXPECT_STREQ(error.what(), "rtlsdr_cancel_async(): Input/output error");
    }
    // The cancel is retried for half a second, then two channel waits at most.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_TRUE(device.captureRunning());
    for (const auto& channel : device.channelList()) {
        EXPECT_FALSE(channel->running());
    }
    // Opening another device makes the stand-in read its settings again: the cancel works now,
    // and a second stop ends the capture thread.
    unsetenv("RTLSDR_STANDIN_FAIL");
    {
        SdrDevice other(0);
        other.open();
    }
    EXPECT_NO_THROW(device.stop());
    EXPECT_FALSE(device.captureRunning());
}

using SdrDeviceDeathTest = SdrDeviceTest;

TEST_F(SdrDeviceDeathTest, DestroyingADeviceWhoseReadCannotBeCancelledEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("RTLSDR_STANDIN_FAIL", "rtlsdr_cancel_async=-1:5", 1);
    EXPECT_DEATH(
        {
            SdrDevice device(0);
            device.open();
            device.start();
            waitUntilReading();
        },
        "terminate");
}

TEST_F(SdrDeviceTest, StopRightAfterStartNeverLeavesTheReadRunning) {
    // The stand-in, like librtlsdr, refuses to cancel a read that has not started yet.
    SdrDevice device(0);
    device.open();
    addChannels(device);
    for (int round = 0; round < 20; ++round) {
        device.start();
        ASSERT_NO_THROW(device.stop()) << "round " << round;
        ASSERT_FALSE(device.captureRunning()) << "round " << round;
    }
}
