// Thread creation is made to fail here by interposing pthread_create for this whole test
// program (Boost.Thread calls it through the dynamic linker, so ours is found first).
#include "sdr/file_source.hpp"
#include "sdr/sdr_device.hpp"

#include "tests/sdr/recording_decoder.hpp"
#include "tests/support/child_process.hpp"

#include <dlfcn.h>
#include <pthread.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <ostream>

namespace {

/// Thread creations still allowed before the next one fails; negative: never fail.
std::atomic<int> creationsBeforeFailure{-1};

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*body)(void*), void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    int allowed = creationsBeforeFailure.load();
    while (allowed >= 0 && !creationsBeforeFailure.compare_exchange_weak(allowed, allowed - 1)) {
    }
    if (allowed == 0) {
        return EAGAIN;
    }
    return next(thread, attributes, body, argument);
}

struct StartFailureCase {
    const char* name;
    int creationsBeforeFailure;  // 0: channel A, 1: channel B, 2: the capture or reader thread
};

void PrintTo(const StartFailureCase& each, std::ostream* out) {
    *out << each.name;
}

class ThreadStartFailureTest : public testing::TestWithParam<StartFailureCase> {
protected:
    ThreadStartFailureTest() {
        setenv("RTLSDR_STANDIN_DEVICES", "1", 1);
        setenv("RTLSDR_STANDIN_CALL_LOG", scratch.path("calls").c_str(), 1);
    }
    ~ThreadStartFailureTest() override { creationsBeforeFailure = -1; }

    ScratchDirectory scratch;
};

TEST_P(ThreadStartFailureTest, StartThrowsLeavesNoThreadRunningAndCanBeRetried) {
    SdrDevice device(0);
    device.open();
    device.addChannel(
        std::make_unique<SdrChannel>(161975000, std::make_unique<RecordingDecoder>()));
    device.addChannel(
        std::make_unique<SdrChannel>(162025000, std::make_unique<RecordingDecoder>()));
    creationsBeforeFailure = GetParam().creationsBeforeFailure;
    EXPECT_THROW(device.start(), boost::thread_resource_error);
    EXPECT_FALSE(device.captureRunning());
    for (const auto& channel : device.channelList()) {
        EXPECT_FALSE(channel->running());
    }
    EXPECT_THAT(splitLines(readFile(scratch.path("calls"))),
                testing::Not(testing::Contains("rtlsdr_reset_buffer")));

    creationsBeforeFailure = -1;
    device.start();
    EXPECT_TRUE(device.captureRunning());
    device.stop();
    EXPECT_FALSE(device.failure());
}

TEST_P(ThreadStartFailureTest, FileSourceStartThrowsLeavesNoThreadRunningAndCanBeRetried) {
    std::ofstream(scratch.path("input.cu8"), std::ios::binary) << std::string(5000, '\x80');
    FileSource source(scratch.path("input.cu8"));
    source.open();
    source.addChannel(
        std::make_unique<SdrChannel>(161975000, std::make_unique<RecordingDecoder>()));
    source.addChannel(
        std::make_unique<SdrChannel>(162025000, std::make_unique<RecordingDecoder>()));
    std::promise<void> finished;
    source.setFinishedCallback([&finished] { finished.set_value(); });
    creationsBeforeFailure = GetParam().creationsBeforeFailure;
    EXPECT_THROW(source.start(), boost::thread_resource_error);
    EXPECT_FALSE(source.readerRunning());
    for (const auto& channel : source.channelList()) {
        EXPECT_FALSE(channel->running());
    }

    creationsBeforeFailure = -1;
    source.start();
    EXPECT_EQ(finished.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    source.stop();
    EXPECT_FALSE(source.failure());
}

INSTANTIATE_TEST_SUITE_P(Threads, ThreadStartFailureTest,
                         testing::Values(StartFailureCase{"FirstChannel", 0},
                                         StartFailureCase{"SecondChannel", 1},
                                         StartFailureCase{"Capture", 2}),
                         [](const testing::TestParamInfo<StartFailureCase>& failure) {
                             return failure.param.name;
                         });
