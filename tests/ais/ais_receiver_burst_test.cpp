#include "ais/ais_receiver.hpp"

#include "tests/ais/ais_test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

using testing::SizeIs;

namespace {

constexpr double amplitude = 1600.0;  // Discriminator units, about 0.1 pi radians per sample.
constexpr int leadSamples = 3000;     // Quiet before the burst: it straddles a block edge.
constexpr int tailSamples = 200;      // Lets the last bits through the filter.

// Square-wave model of a discriminator output: decoded bits NRZI-coded to levels (a 0 changes
// the level, a 1 keeps it), each bit samplesPerBit long starting at sample `lead`, every sample
// the mean of the +-amplitude waveform over its interval [n, n + 1).
std::vector<int16_t> renderBurst(const Bits& bits, double samplesPerBit, double lead) {
    const auto total = static_cast<size_t>(std::ceil(lead + bits.size() * samplesPerBit)) +
                       static_cast<size_t>(tailSamples);
    std::vector<double> mean(total, 0.0);
    auto addSpan = [&mean](double begin, double end, double level) {
        for (auto n = static_cast<size_t>(std::floor(begin)); n < mean.size() && n < end; ++n) {
            mean[n] += level * (std::min(end, n + 1.0) - std::max(begin, static_cast<double>(n)));
        }
    };
    double level = -1.0;
    addSpan(0.0, lead, level);
    for (size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == 0) {
            level = -level;
        }
        addSpan(lead + i * samplesPerBit, lead + (i + 1) * samplesPerBit, level);
    }
    addSpan(lead + bits.size() * samplesPerBit, static_cast<double>(total), level);
    std::vector<int16_t> samples;
    for (double value : mean) {
        samples.push_back(static_cast<int16_t>(std::lround(value * amplitude)));
    }
    return samples;
}

// Sets the bit clock so that the burst's first level change (the first training bit, after
// buildBurst's 8 idle bits) is seen half a turn from a sampling instant, as a locked loop
// would have it. The filter output shows an input change 18.5 samples later: the taps' centre
// lies 17.5 samples in, plus one sample of pure delay.
void startLocked(AisReceiver* receiver, double samplesPerBit, double lead) {
    const auto firstChangeSample =
        static_cast<uint32_t>(std::ceil(lead + 8 * samplesPerBit + 18.5));
    receiver->pllPhase = (32768u - firstChangeSample * 13107u) & 0xFFFFu;
}

// Two real messages: a position report and a 424-bit static and voyage report.
const std::pair<const char*, int> realPayloads[] = {
    {"15RTgt0PAso;90TKcjM8h6g208CQ", 0},
    {"55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp888888888880", 2},
};

struct BurstCase {
    double offset;         // Samples between the end of the quiet lead-in and the burst.
    double samplesPerBit;  // 5 is the nominal 48000 / 9600.
    int payloadIndex;
    bool locked;  // Bit clock set as if already locked onto the burst.
};

// Decodes one rendered burst fed in 4096-sample blocks; returns the sentences.
std::vector<std::string> decodeBurst(const BurstCase& burst, const Bits& message) {
    const double lead = leadSamples + burst.offset;
    const std::vector<int16_t> samples =
        renderBurst(buildBurst(message), burst.samplesPerBit, lead);
    SentenceSink sink;
    AisReceiver* receiver =
        createAisReceiver('A', false, &SentenceSink::collect, &sink, nullptr, nullptr);
    if (burst.locked) {
        startLocked(receiver, burst.samplesPerBit, lead);
    }
    processInChannelBlocks(receiver, samples);
    destroyAisReceiver(receiver);
    return sink.sentences;
}

}  // namespace

class AisReceiverBurst : public testing::TestWithParam<BurstCase> {};

TEST_P(AisReceiverBurst, CleanBurstDecodesExactly) {
    const auto& [payload, fill] = realPayloads[GetParam().payloadIndex];
    const Bits message = payloadToBits(payload, fill);
    const std::vector<std::string> sentences = decodeBurst(GetParam(), message);
    ASSERT_THAT(sentences, SizeIs(message.size() > 336 ? 2 : 1));
    EXPECT_EQ(messageBitsOf(sentences), message);
}

std::vector<BurstCase> anyStartingPhase() {
    std::vector<BurstCase> cases;
    for (int quarter = 0; quarter < 20; ++quarter) {
        for (int payload : {0, 1}) {
            cases.push_back({quarter / 4.0, 5.0, payload, false});
        }
    }
    return cases;
}

std::vector<BurstCase> clockErrors() {
    std::vector<BurstCase> cases;
    for (double samplesPerBit : {4.97, 5.03}) {
        for (int half = 0; half < 10; ++half) {
            for (int payload : {0, 1}) {
                cases.push_back({half / 2.0, samplesPerBit, payload, true});
            }
        }
    }
    return cases;
}

std::string caseName(const testing::TestParamInfo<BurstCase>& p) {
    return "Offset" + std::to_string(std::lround(p.param.offset * 100)) + "Hundredths_" +
           std::to_string(std::lround(p.param.samplesPerBit * 100)) + "HundredthsPerBit_" +
           (p.param.payloadIndex == 0 ? "168" : "424") + "Bits";
}

// Exactly 5 samples per bit: whatever the burst's phase against the free-running bit clock.
INSTANTIATE_TEST_SUITE_P(AnyStartingPhase, AisReceiverBurst, testing::ValuesIn(anyStartingPhase()),
                         caseName);

// Bit clock off by -0.6 % and +0.6 %: the nudges keep a locked loop on the bits through the
// longest message.
INSTANTIATE_TEST_SUITE_P(ClockError, AisReceiverBurst, testing::ValuesIn(clockErrors()), caseName);

namespace {

// A carrier 100 Hz off frequency shifts the discriminator output by 100 / 1.46484375 = 68
// units.
constexpr int carrierOffsetUnits = 68;

}  // namespace

class AisReceiverEdgeBurst : public testing::TestWithParam<uint32_t> {};

TEST_P(AisReceiverEdgeBurst, BitClockPullsInFromTheBitEdges) {
    // Bit edges on the sample grid: without the offset the filter output would pass through
    // zero right at a sample. The offset moves rising changes before that sample and falling
    // ones after it, so the slicer sees them one sample apart in turn. A clock whose sampling
    // instants start on the edges then reads the changes on both sides of its wrap.
    const auto& [payload, fill] = realPayloads[0];
    const Bits message = payloadToBits(payload, fill);
    std::vector<int16_t> samples = renderBurst(buildBurst(message), 5.0, leadSamples);
    for (int16_t& sample : samples) {
        sample = static_cast<int16_t>(sample + carrierOffsetUnits);
    }
    SentenceSink sink;
    AisReceiver* receiver =
        createAisReceiver('A', false, &SentenceSink::collect, &sink, nullptr, nullptr);
    receiver->pllPhase = GetParam();
    processInChannelBlocks(receiver, samples);
    destroyAisReceiver(receiver);
    ASSERT_THAT(sink.sentences, SizeIs(1));
    EXPECT_EQ(messageBitsOf(sink.sentences), message);
}

// A sixteenth of a bit apart: every start of the clock against the bits.
INSTANTIATE_TEST_SUITE_P(StartingPhases, AisReceiverEdgeBurst, testing::Range(0u, 65536u, 4096u));
