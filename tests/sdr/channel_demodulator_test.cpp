#include "sdr/channel_demodulator.hpp"

#include "sdr/sdr_device.hpp"
#include "tests/sdr/recording_decoder.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <ostream>
#include <random>

using testing::Each;

namespace {

constexpr double hertzPerUnit = 48000.0 / 32768.0;

DemodulatorState stateFor(int32_t frequency) {
    DemodulatorState state;
    state.phaseIncrement = channelPhaseIncrement(frequency, tunerCentreFrequency);
    return state;
}

/// Whole numbers from -128 to 127, as the tuner delivers them.
std::vector<float> noise(std::size_t count) {
    std::mt19937 generator(20180430);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<float> samples(count);
    for (float& sample : samples) {
        sample = static_cast<float>(byte(generator) - 128);
    }
    return samples;
}

/// Every sample that reached the decoder plus those still waiting in the block.
std::vector<int16_t> output(RecordingDecoder& decoder, const DemodulatorState& state) {
    std::vector<int16_t> all = decoder.samples();
    all.insert(all.end(), state.block, state.block + state.blockFill);
    return all;
}

}  // namespace

TEST(ChannelPhaseIncrement, ChannelsSit24992HzEitherSideOfTheCentre) {
    // 161975000 and 162025000 become 161975008 and 162024992 as floats.
    EXPECT_EQ(channelPhaseIncrement(channelA, tunerCentreFrequency), -0.54524088f);
    EXPECT_EQ(channelPhaseIncrement(channelB, tunerCentreFrequency), 0.54524088f);
    EXPECT_EQ(channelPhaseIncrement(162000000, tunerCentreFrequency), 0.0f);
}

struct ToneCase {
    const char* name;
    double toneFrequency;  // Hz in baseband
    int32_t channel;
    double expectedMean;  // output units
};

void PrintTo(const ToneCase& each, std::ostream* out) {
    *out << each.name;
}

class ToneTest : public testing::TestWithParam<ToneCase> {};

TEST_P(ToneTest, AveragesTheToneOffsetFromTheOscillator) {
    const ToneCase& tone = GetParam();
    DemodulatorState state = stateFor(tone.channel);
    RecordingDecoder decoder;
    const std::vector<float> samples = complexTone(tone.toneFrequency, tunerSampleRate);
    demodulateBlock(state, samples.data(), static_cast<uint32_t>(samples.size()), decoder);
    const std::vector<int16_t> out = output(decoder, state);
    ASSERT_EQ(out.size(), 48000u);
    // The first sample is measured against 0+0j, not against the tone.
    const double mean = std::accumulate(out.begin() + 1, out.end(), 0.0) / (out.size() - 1);
    EXPECT_NEAR(mean, tone.expectedMean, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, ToneTest,
    testing::Values(ToneCase{"AboveAsOscillator", -22592.0, channelA, 2400.0 / hertzPerUnit},
                    ToneCase{"BelowAsOscillator", -27392.0, channelA, -2400.0 / hertzPerUnit},
                    ToneCase{"AtAsNominalFrequency", -25000.0, channelA, -8.0 / hertzPerUnit},
                    ToneCase{"AtBsNominalFrequency", 25000.0, channelB, 8.0 / hertzPerUnit},
                    ToneCase{"AtBsOscillator", 24992.0, channelB, 0.0},
                    ToneCase{"FarAboveBsOscillator", 24992.0 + 20000.0, channelB,
                             20000.0 / hertzPerUnit}),
    [](const testing::TestParamInfo<ToneCase>& tone) { return tone.param.name; });

TEST(DemodulateBlock, AnyEvenSplitGivesTheSameOutputAsOneBlock) {
    const std::vector<float> stream = noise(3 * tunerBufferLength);
    DemodulatorState whole = stateFor(channelA);
    RecordingDecoder wholeDecoder;
    demodulateBlock(whole, stream.data(), static_cast<uint32_t>(stream.size()), wholeDecoder);

    // Cuts in floats, used in turn until the stream is used up; none a multiple of 12 floats
    // (6 pairs), so the decimation count carries across most cuts.
    const std::vector<std::vector<uint32_t>> splits = {
        {tunerBufferLength}, {2}, {10, 4094}, {8190, 2, 14, 102398}, {50002}};
    for (const std::vector<uint32_t>& split : splits) {
        DemodulatorState cut = stateFor(channelA);
        RecordingDecoder cutDecoder;
        std::size_t at = 0;
        for (std::size_t piece = 0; at < stream.size(); ++piece) {
            const auto length = static_cast<uint32_t>(
                std::min<std::size_t>(split[piece % split.size()], stream.size() - at));
            demodulateBlock(cut, stream.data() + at, length, cutDecoder);
            at += length;
        }
        EXPECT_EQ(output(cutDecoder, cut), output(wholeDecoder, whole)) << split.size();
        EXPECT_EQ(cut.phase, whole.phase);
        EXPECT_EQ(cut.decimationCount, whole.decimationCount);
        EXPECT_EQ(cut.accumI, whole.accumI);
        EXPECT_EQ(cut.accumQ, whole.accumQ);
        EXPECT_THAT(cutDecoder.counts(), Each(4096));
    }
}

TEST(DemodulateBlock, IgnoresTheOddLastFloatAndStartsTheNextBlockWithI) {
    const std::vector<float> stream = noise(2 * 24001);
    const std::vector<int16_t> reference = demodulateOffline(channelB, stream);

    DemodulatorState state = stateFor(channelB);
    RecordingDecoder decoder;
    std::vector<float> first(stream.begin(), stream.begin() + 30002);
    first.push_back(127.0f);  // the odd float, never part of a pair
    demodulateBlock(state, first.data(), static_cast<uint32_t>(first.size()), decoder);
    demodulateBlock(state, stream.data() + 30002, static_cast<uint32_t>(stream.size() - 30002),
                    decoder);
    flushBlock(state, decoder);
    EXPECT_EQ(decoder.samples(), reference);
}

TEST(DemodulateBlock, OneTransferGives8533Or8534SamplesAsTheDecimationCarriesOver) {
    const std::vector<float> transfer = noise(tunerBufferLength);
    DemodulatorState state = stateFor(channelA);
    RecordingDecoder decoder;
    std::vector<std::size_t> perTransfer;
    std::size_t before = 0;
    for (int n = 0; n < 3; ++n) {
        demodulateBlock(state, transfer.data(), tunerBufferLength, decoder);
        const std::size_t total = output(decoder, state).size();
        perTransfer.push_back(total - before);
        before = total;
    }
    // 51200 pairs a transfer: 2 pairs left over after the first, 4 after the second.
    EXPECT_THAT(perTransfer, testing::ElementsAre(8533u, 8533u, 8534u));
    EXPECT_THAT(decoder.counts(), Each(4096));
}

struct FirstSampleCase {
    float i;
    float q;
    int16_t expected;
};

class FirstSampleTest : public testing::TestWithParam<FirstSampleCase> {};

// The first mean is compared with 0+0j: its product with that is a signed zero, and atan2 of
// signed zeros is 0 except for a negative zero real part, where it is pi.
TEST_P(FirstSampleTest, ComparesTheFirstMeanWithZero) {
    const FirstSampleCase& first = GetParam();
    DemodulatorState state;  // oscillator at rest: the mixer passes the input unchanged
    RecordingDecoder decoder;
    std::vector<float> constant;
    for (uint32_t n = 0; n < 2 * decimationFactor; ++n) {
        constant.push_back(first.i);
        constant.push_back(first.q);
    }
    demodulateBlock(state, constant.data(), static_cast<uint32_t>(constant.size()), decoder);
    ASSERT_EQ(state.blockFill, 2u);
    EXPECT_EQ(state.block[0], first.expected);
    EXPECT_EQ(state.block[1], 0);  // the same mean again: no phase step
    EXPECT_FLOAT_EQ(static_cast<float>(state.prevI), first.i);
    EXPECT_FLOAT_EQ(static_cast<float>(state.prevQ), first.q);
}

INSTANTIATE_TEST_SUITE_P(Quadrants, FirstSampleTest,
                         testing::Values(FirstSampleCase{10.0f, 0.0f, 0},
                                         FirstSampleCase{10.0f, -10.0f, 0},
                                         FirstSampleCase{-10.0f, 10.0f, 0},
                                         FirstSampleCase{-10.0f, 0.0f, 0},
                                         FirstSampleCase{-10.0f, -10.0f, 16384}));

TEST(DemodulateBlock, FirstPairUsesThePhaseAfterOneStep) {
    DemodulatorState state = stateFor(channelA);
    RecordingDecoder decoder;
    const float pair[] = {100.0f, 0.0f};
    demodulateBlock(state, pair, 2, decoder);
    EXPECT_EQ(state.phase, state.phaseIncrement);
    // 100 times e^(-j.phase) with the phase at -0.545 rad: turned counter-clockwise.
    EXPECT_FLOAT_EQ(state.accumI, 100.0f * std::cos(state.phaseIncrement));
    EXPECT_FLOAT_EQ(state.accumQ, -100.0f * std::sin(state.phaseIncrement));
    EXPECT_EQ(state.decimationCount, 1u);
}

TEST(FlushBlock, HandsOnThePartialBlockOnceAndNothingWhenEmpty) {
    DemodulatorState state = stateFor(channelA);
    RecordingDecoder decoder;
    const std::vector<float> samples = noise(2 * 6 * 4100);  // 4100 output samples
    demodulateBlock(state, samples.data(), static_cast<uint32_t>(samples.size()), decoder);
    flushBlock(state, decoder);
    flushBlock(state, decoder);
    EXPECT_THAT(decoder.counts(), testing::ElementsAre(4096, 4));
    EXPECT_EQ(state.blockFill, 0u);
}
