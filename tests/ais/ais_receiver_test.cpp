#include "ais/ais_receiver.hpp"

#include "tests/ais/ais_test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

using testing::IsEmpty;
using testing::SizeIs;

namespace {

struct ReceiverDeleter {
    void operator()(AisReceiver* receiver) const { destroyAisReceiver(receiver); }
};
using ReceiverPtr = std::unique_ptr<AisReceiver, ReceiverDeleter>;

struct LevelReport {
    int channel;
    float level;
    float gain;
};

struct LevelSink {
    std::vector<LevelReport> reports;
    static void collect(void* context, int channel, float level, float gain) {
        static_cast<LevelSink*>(context)->reports.push_back({channel, level, gain});
    }
};

ReceiverPtr makeReceiver(SentenceSink* sentences, LevelSink* levels, bool levelReports = true) {
    return ReceiverPtr(createAisReceiver('B', levelReports, &SentenceSink::collect, sentences,
                                         &LevelSink::collect, levels));
}

uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float scaledByDouble(float gain, double factor) {
    return static_cast<float>(static_cast<double>(gain) * factor);
}

}  // namespace

TEST(AisReceiverFilter, TapsAreTheGaussianFormulaRoundedToFiveSignificantDigits) {
    const double pi = std::acos(-1.0);
    const double ln2 = std::log(2.0);
    const double bandwidth = 0.12;  // Cycles per sample.
    float sum = 0.0f;
    for (int k = 0; k < firTapCount; ++k) {
        const double t = k - 17.5;
        const double tap = 2.5 * std::sqrt(2.0 * pi / ln2) * bandwidth *
                           std::exp(-2.0 * pi * pi * bandwidth * bandwidth * t * t / ln2);
        char rounded[32];
        std::snprintf(rounded, sizeof rounded, "%.4e", tap);
        EXPECT_EQ(floatBits(gaussianTaps[k]), floatBits(std::strtof(rounded, nullptr)))
            << "tap " << k << " should be " << rounded;
        EXPECT_EQ(floatBits(gaussianTaps[k]), floatBits(gaussianTaps[firTapCount - 1 - k]));
        sum += gaussianTaps[k];
    }
    EXPECT_NEAR(sum, 2.499996f, 1e-6f);
}

TEST(AisReceiver, StartsWithACopyOfTheTapsAndItsInitialState) {
    ReceiverPtr receiver = makeReceiver(nullptr, nullptr, false);
    const FirFilter* filter = receiver->filter;
    EXPECT_EQ(filter->tapCount, firTapCount);
    EXPECT_NE(filter->taps, gaussianTaps);
    EXPECT_EQ(std::memcmp(filter->taps, gaussianTaps, sizeof gaussianTaps), 0);
    EXPECT_EQ(filter->writeIndex, 36u);
    for (float value : filter->history) {
        ASSERT_EQ(value, 0.0f);
    }
    EXPECT_EQ(receiver->channel, 'B');
    EXPECT_EQ(receiver->frameDecoder->channel, 'B');
    EXPECT_EQ(receiver->frameDecoder->state, StateTraining);
    EXPECT_EQ(receiver->pllIncrement, 13107u);
    EXPECT_EQ(receiver->sampleStride, 1);
    EXPECT_EQ(receiver->gain, 1.0f);
    EXPECT_EQ(receiver->levelReports, 0u);
}

TEST(AisReceiverFilter, HistoryWrapMidBlockMatchesAnUnboundedFilter) {
    ReceiverPtr receiver = makeReceiver(nullptr, nullptr);
    receiver->gain = 1.5f;
    std::mt19937 random(3);
    std::uniform_int_distribution<int> amplitude(-3000, 3000);
    std::vector<int16_t> samples(3000);
    for (int16_t& sample : samples) {
        sample = static_cast<int16_t>(amplitude(random));
    }

    // Blocks of 700: the history wraps after 988, 1976 and 2964 samples, each inside a block.
    std::vector<float> outputs(samples.size());
    for (size_t start = 0; start < samples.size(); start += 700) {
        const int32_t count = static_cast<int32_t>(std::min<size_t>(700, samples.size() - start));
        scaleAndFilter(receiver.get(), &samples[start], count, &outputs[start]);
    }

    std::vector<float> history(firTapCount, 0.0f);
    for (int16_t sample : samples) {
        history.push_back(static_cast<float>(static_cast<int32_t>(sample * 1.5f)));
    }
    for (size_t n = 0; n < samples.size(); ++n) {
        float expected = 0.0f;
        for (int k = 0; k < firTapCount; ++k) {
            expected += gaussianTaps[k] * history[n + k];
        }
        ASSERT_EQ(outputs[n], expected) << "sample " << n;
    }
    EXPECT_EQ(receiver->filter->writeIndex, 36u + (3000u - 2964u));
}

struct PeakCase {
    const char* name;
    float gain;
    std::vector<int16_t> samples;
    std::vector<float> stored;  // What the history holds for them.
    float level;
};

TEST(AisReceiverGain, PeakCountsOnlyPositiveScaledValuesAfterClipping) {
    const PeakCase cases[] = {
        {"all negative", 1.0f, {-5, -16384, -1}, {-5, -16384, -1}, 0.0f},
        {"mixed", 1.0f, {-100, 16384, 5}, {-100, 16384, 5}, 50.0f},
        {"40000 clips to 32767 and counts",
         2.0f,
         {20000, 100},
         {32767, 200},
         32767 * 0.0030517578125f},
        {"-40000 clips to -32768", 2.0f, {-20000, 100}, {-32768, 200}, 200 * 0.0030517578125f},
        {"truncated toward zero", 1.5f, {-3, 3}, {-4, 4}, 4 * 0.0030517578125f},
    };
    for (const PeakCase& c : cases) {
        SCOPED_TRACE(c.name);
        LevelSink levels;
        ReceiverPtr receiver = makeReceiver(nullptr, &levels);
        receiver->gain = c.gain;
        processSamples(receiver.get(), c.samples.data(), static_cast<int32_t>(c.samples.size()));
        for (size_t i = 0; i < c.stored.size(); ++i) {
            EXPECT_EQ(receiver->filter->history[firTapCount + i], c.stored[i]) << i;
        }
        ASSERT_THAT(levels.reports, SizeIs(1));
        EXPECT_EQ(levels.reports[0].channel, 'B');
        EXPECT_EQ(levels.reports[0].level, c.level);
        const double step = c.level > 75.0f ? 0.99 : c.level < 50.0f ? 1.01 : 1.0;
        EXPECT_EQ(levels.reports[0].gain, scaledByDouble(c.gain, step));
    }
}

TEST(AisReceiverGain, StepsWithinBoundsAndRestartsARunawayGain) {
    const struct {
        float gain;
        int16_t peak;
        float level;
        float newGain;
    } cases[] = {
        {1.0f, 0, 0.0f, scaledByDouble(1.0f, 1.01)},
        {1.0f, 16383, 49.9969482421875f, scaledByDouble(1.0f, 1.01)},
        {1.0f, 16384, 50.0f, 1.0f},
        {1.0f, 24576, 75.0f, 1.0f},
        {1.0f, 24577, 75.0030517578125f, scaledByDouble(1.0f, 0.99)},
        {0.75f, 32767, 99.9969482421875f, scaledByDouble(0.75f, 0.99)},
        {99.5f, 0, 0.0f, 1.0f},  // 100.495 is above the bound.
        {100.0f, 16384, 50.0f, 100.0f},
        {0.01f, 16384, 50.0f, 1.0f},  // The float nearest 0.01 lies below it.
    };
    for (const auto& c : cases) {
        LevelSink levels;
        ReceiverPtr receiver = makeReceiver(nullptr, &levels);
        receiver->gain = c.gain;
        adjustGainAndReport(receiver.get(), c.peak, 1000);
        EXPECT_EQ(receiver->gain, c.newGain) << c.gain << " " << c.peak;
        ASSERT_THAT(levels.reports, SizeIs(1));
        EXPECT_EQ(levels.reports[0].level, c.level);
        EXPECT_EQ(levels.reports[0].gain, c.newGain);
    }
}

TEST(AisReceiverGain, ReportsAtMostOncePerSecondOfWallClock) {
    LevelSink levels;
    ReceiverPtr receiver = makeReceiver(nullptr, &levels);
    const struct {
        time_t now;
        size_t reports;
    } steps[] = {{1000, 1}, {1000, 1}, {999, 1}, {1001, 2}, {1001, 2}, {1005, 3}};
    for (const auto& step : steps) {
        adjustGainAndReport(receiver.get(), 0, step.now);
        EXPECT_THAT(levels.reports, SizeIs(step.reports)) << step.now;
    }
    EXPECT_EQ(receiver->lastReportTime, 1005);
}

TEST(AisReceiverGain, ReportsStillComeAfterTheThirtyTwoBitSecondsOverflow) {
    LevelSink levels;
    ReceiverPtr receiver = makeReceiver(nullptr, &levels);
    const time_t after2038 = (static_cast<time_t>(1) << 31) + 10;
    adjustGainAndReport(receiver.get(), 0, after2038);
    adjustGainAndReport(receiver.get(), 0, after2038 + 1);
    EXPECT_THAT(levels.reports, SizeIs(2));
    EXPECT_EQ(receiver->lastReportTime, after2038 + 1);
}

TEST(AisReceiverGain, FirstBlockReportsAndAnEarlierReportInTheFutureHoldsItBack) {
    LevelSink levels;
    ReceiverPtr receiver = makeReceiver(nullptr, &levels);
    const std::vector<int16_t> block(4096, 0);
    const time_t before = std::time(nullptr);
    processSamples(receiver.get(), block.data(), 4096);
    EXPECT_THAT(levels.reports, SizeIs(1));
    EXPECT_GE(receiver->lastReportTime, before);
    EXPECT_LE(receiver->lastReportTime, std::time(nullptr));

    receiver->lastReportTime = std::time(nullptr) + 3600;
    processSamples(receiver.get(), block.data(), 4096);
    EXPECT_THAT(levels.reports, SizeIs(1));
}

TEST(AisReceiverGain, WithoutLevelReportsTheClockStillAdvancesAndEmptyBlocksRaiseTheGain) {
    LevelSink levels;
    ReceiverPtr receiver = makeReceiver(nullptr, &levels, false);
    const time_t before = std::time(nullptr);
    processSamples(receiver.get(), nullptr, 0);
    EXPECT_THAT(levels.reports, IsEmpty());
    EXPECT_GE(receiver->lastReportTime, before);
    EXPECT_EQ(receiver->gain, scaledByDouble(1.0f, 1.01));
}

TEST(AisReceiverDeathTest, OversizedBlockAbortsBeforeReadingOrReporting) {
    // A null sample pointer would crash with SIGSEGV if read; a level report would exit 3.
    LevelCallback exitOnReport = [](void*, int, float, float) { _exit(3); };
    EXPECT_EXIT(
        {
            AisReceiver* receiver =
                createAisReceiver('A', true, nullptr, nullptr, exitOnReport, nullptr);
            processSamples(receiver, nullptr, maxBlockSamples + 1);
        },
        testing::KilledBySignal(SIGABRT), "");
}
