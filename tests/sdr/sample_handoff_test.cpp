#include "sdr/sample_handoff.hpp"

#include "sdr/sdr_channel.hpp"
#include "sdr/sdr_device.hpp"
#include "tests/sdr/recording_decoder.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <ostream>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using testing::Each;
using testing::ElementsAre;

namespace {

/// 4096 output samples: exactly one decoder call.
constexpr uint32_t oneDecoderCall = 2 * decimationFactor * discriminatorBlockLength;  // floats

class SampleHandoffTest : public testing::Test {
protected:
    SampleHandoffTest() {
        for (int32_t frequency : {channelA, channelB}) {
            auto decoder = std::make_unique<RecordingDecoder>();
            decoders.push_back(decoder.get());
            channels.push_back(std::make_unique<SdrChannel>(frequency, std::move(decoder)));
            channels.back()->demodulator.phaseIncrement =
                channelPhaseIncrement(frequency, tunerCentreFrequency);
        }
        handoff.prepare({channels[0].get(), channels[1].get()});
    }

    ~SampleHandoffTest() override {
        handoff.beginStop();
        for (auto& channel : channels) {
            channel->stop();
        }
    }

    void startChannels() {
        for (auto& channel : channels) {
            channel->start(handoff, [this](std::exception_ptr failed) {
                std::lock_guard<std::mutex> guard(failureLock);
                failures.push_back(failed);
                failureSeen.notify_all();
            });
        }
    }

    std::exception_ptr waitForFailure() {
        std::unique_lock<std::mutex> guard(failureLock);
        failureSeen.wait_for(guard, 5s, [this] { return !failures.empty(); });
        return failures.empty() ? nullptr : failures.front();
    }

    /// What the slot holds, read as a channel would: under the shared side of the lock.
    uint32_t publishedCount() {
        boost::shared_lock<boost::shared_mutex> shared(handoff.sampleLock);
        return handoff.sampleCount;
    }

    bool flagged(int channel) {
        boost::shared_lock<boost::shared_mutex> shared(handoff.sampleLock);
        return channels[channel]->newBlock;
    }

    SampleHandoff handoff;
    std::vector<std::unique_ptr<SdrChannel>> channels;
    std::vector<RecordingDecoder*> decoders;
    std::mutex failureLock;
    std::condition_variable failureSeen;
    std::vector<std::exception_ptr> failures;
};

}  // namespace

TEST_F(SampleHandoffTest, PublishesBytesAsCentredFloatsAndFlagsEveryChannel) {
    unsigned char bytes[] = {0, 128, 255, 1, 127};
    SampleHandoff::samplesCallback(bytes, sizeof bytes, &handoff);
    ASSERT_EQ(publishedCount(), 5u);
    EXPECT_THAT(std::vector<float>(handoff.sampleBuffer.get(), handoff.sampleBuffer.get() + 5),
                ElementsAre(-128.0f, 0.0f, 127.0f, -127.0f, -1.0f));
    EXPECT_TRUE(flagged(0));
    EXPECT_TRUE(flagged(1));
}

struct NothingCase {
    const char* name;
    uint32_t length;  // bytes
    bool stopping;
};

void PrintTo(const NothingCase& each, std::ostream* out) {
    *out << each.name;
}

class PublishesNothingTest : public SampleHandoffTest,
                             public testing::WithParamInterface<NothingCase> {};

TEST_P(PublishesNothingTest, LeavesTheSlotAndTheFlagsAlone) {
    if (GetParam().stopping) {
        handoff.beginStop();
    }
    std::vector<unsigned char> bytes(GetParam().length, 200);
    SampleHandoff::samplesCallback(bytes.data(), GetParam().length, &handoff);
    EXPECT_EQ(publishedCount(), 0u);
    EXPECT_FALSE(flagged(0));
    EXPECT_FALSE(flagged(1));
    if (GetParam().stopping) {
        EXPECT_FALSE(handoff.publishWhenTaken(bytes.data(), GetParam().length));
        EXPECT_FALSE(handoff.finishInput());
        EXPECT_EQ(publishedCount(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Transfers, PublishesNothingTest,
                         testing::Values(NothingCase{"Empty", 0, false},
                                         NothingCase{"OneByte", 1, false},
                                         NothingCase{"WhileStopping", 102400, true}),
                         [](const testing::TestParamInfo<NothingCase>& transfer) {
                             return transfer.param.name;
                         });

TEST_F(SampleHandoffTest, CutsATransferLongerThanTheBufferToItsCapacity) {
    SampleHandoff small;
    small.prepare({channels[0].get()}, 8);
    std::vector<unsigned char> bytes(12);
    for (unsigned char n = 0; n < 12; ++n) {
        bytes[n] = static_cast<unsigned char>(130 + n);
    }
    SampleHandoff::samplesCallback(bytes.data(), 12, &small);
    EXPECT_EQ(small.sampleCount, 8u);
    EXPECT_EQ(small.sampleBuffer[7], 9.0f);
}

TEST_F(SampleHandoffTest, ABlockArrivingWhileAChannelDecodesIsDroppedForAll) {
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool first = true;
    decoders[0]->onProcess([&](int32_t) {
        if (first) {
            first = false;
            entered.set_value();
            released.wait();
        }
    });
    startChannels();
    const std::vector<unsigned char> block = toBytes(complexTone(-22592.0, oneDecoderCall / 2));
    // Until channel A is inside its decoder, a publication may find a channel not yet waiting.
    std::future<void> inDecoder = entered.get_future();
    std::vector<unsigned char> copy = block;
    while (inDecoder.wait_for(5ms) != std::future_status::ready) {
        SampleHandoff::samplesCallback(copy.data(), oneDecoderCall, &handoff);
    }
    // Channel A holds the shared side while it decodes, so nobody can publish: the next block
    // (recognisable by its length) reaches neither channel.
    EXPECT_FALSE(boost::unique_lock<boost::shared_mutex>(handoff.sampleLock, boost::try_to_lock));
    std::vector<unsigned char> next(1000, 100);
    SampleHandoff::samplesCallback(next.data(), 1000, &handoff);
    EXPECT_EQ(publishedCount(), oneDecoderCall);
    release.set_value();
    ASSERT_TRUE(decoders[0]->waitForCalls(1, 5s));
    handoff.beginStop();
    for (auto& channel : channels) {
        channel->stop();
    }
    EXPECT_THAT(decoders[0]->counts(), Each(4096));
    EXPECT_THAT(decoders[1]->counts(), Each(4096));
}

TEST_F(SampleHandoffTest, AChannelWokenOnlyPastItsWaitDeadlineStillTakesTheBlock) {
    startChannels();
    std::this_thread::sleep_for(30ms);  // both channels are waiting now
    const std::vector<unsigned char> block = toBytes(complexTone(-22592.0, oneDecoderCall / 2));
    {
        // A publication as the tuner's writer makes it, whose notification the channels can
        // answer only after their 100 ms deadline has passed: they get the shared side back
        // once this exclusive lock goes, as if they had not been scheduled in time. The wait
        // then reports a timeout although it was notified.
        boost::unique_lock<boost::shared_mutex> exclusive(handoff.sampleLock);
        for (uint32_t n = 0; n < oneDecoderCall; ++n) {
            handoff.sampleBuffer[n] = static_cast<float>(block[n]) - 128.0f;
        }
        handoff.sampleCount = oneDecoderCall;
        for (auto& channel : channels) {
            channel->newBlock = true;
        }
        handoff.sampleReady.notify_all();
        std::this_thread::sleep_for(std::chrono::microseconds(handoffWaitMicroseconds) + 50ms);
    }
    // No further block comes: the published one must not be lost.
    EXPECT_TRUE(decoders[0]->waitForCalls(1, 2s));
    EXPECT_TRUE(decoders[1]->waitForCalls(1, 2s));
}

TEST_F(SampleHandoffTest, StopEndsWaitingChannelsWithinAboutOneWait) {
    startChannels();
    std::this_thread::sleep_for(30ms);
    const auto before = std::chrono::steady_clock::now();
    channels[0]->stop();
    channels[1]->stop();
    // Each stop takes at most one 100 ms wait; the bound is loose on purpose.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_FALSE(channels[0]->running());
    EXPECT_TRUE(decoders[0]->counts().empty());
}

TEST_F(SampleHandoffTest, BlockingPublisherLosesNothingAndFlushesTheLastBlock) {
    // A slow decoder on B: the publisher has to wait for it instead of dropping.
    decoders[1]->onProcess([](int32_t) { std::this_thread::sleep_for(2ms); });
    startChannels();
    std::vector<float> stream = complexTone(-22592.0, 5 * 51200 + 777);
    const std::vector<unsigned char> bytes = toBytes(stream);
    constexpr uint32_t piece = 20002;  // bytes, even, not a multiple of 12
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const auto length = static_cast<uint32_t>(std::min<std::size_t>(piece, bytes.size() - at));
        ASSERT_TRUE(handoff.publishWhenTaken(bytes.data() + at, length));
    }
    ASSERT_TRUE(handoff.finishInput());
    EXPECT_EQ(decoders[0]->samples(), demodulateOffline(channelA, stream));
    EXPECT_EQ(decoders[1]->samples(), demodulateOffline(channelB, stream));
    const std::vector<int32_t> counts = decoders[0]->counts();
    ASSERT_FALSE(counts.empty());
    EXPECT_THAT(std::vector<int32_t>(counts.begin(), counts.end() - 1), Each(4096));
    EXPECT_LT(counts.back(), 4096);
}

TEST_F(SampleHandoffTest, BlockingPublisherGivesUpWhenStopped) {
    // Channels that never run never take a block: the second publication has to wait.
    std::vector<unsigned char> bytes(1000, 140);
    ASSERT_TRUE(handoff.publishWhenTaken(bytes.data(), 1000));
    std::future<bool> second =
        std::async(std::launch::async, [&] { return handoff.publishWhenTaken(bytes.data(), 500); });
    EXPECT_EQ(second.wait_for(150ms), std::future_status::timeout);
    handoff.beginStop();
    ASSERT_EQ(second.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(second.get());
    EXPECT_EQ(publishedCount(), 1000u);
}

TEST_F(SampleHandoffTest, DecoderExceptionEndsOnlyThatChannelAndReachesTheHandler) {
    decoders[0]->onProcess([](int32_t) { throw std::runtime_error("decoder broke"); });
    startChannels();
    const std::vector<unsigned char> block = toBytes(complexTone(1000.0, oneDecoderCall / 2));
    // The second publication returns once both channels have taken the first block.
    ASSERT_TRUE(handoff.publishWhenTaken(block.data(), oneDecoderCall));
    ASSERT_TRUE(handoff.publishWhenTaken(block.data(), oneDecoderCall));
    const std::exception_ptr failed = waitForFailure();
    ASSERT_TRUE(failed);
    EXPECT_THROW(
        {
            try {
                std::rethrow_exception(failed);
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "decoder broke");
                throw;
            }
        },
        std::runtime_error);
    // B goes on with both blocks, and the dead channel does not hold up the tuner's writer.
    EXPECT_TRUE(decoders[1]->waitForCalls(2, 5s));
    std::vector<unsigned char> shorter(2000, 90);
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (publishedCount() != 2000 && std::chrono::steady_clock::now() < giveUp) {
        SampleHandoff::samplesCallback(shorter.data(), 2000, &handoff);  // B may still be busy
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(publishedCount(), 2000u);
}
