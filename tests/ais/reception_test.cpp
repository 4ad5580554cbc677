// What both chains measure of each burst they print, against what the transmitter model sent:
// where its start flag begins in the tuner stream, its level over 40 dB of amplitudes, its
// carrier's offset over the range each chain hears.
#include "ais/classic/classic_chain.hpp"
#include "ais/sensitive/sensitive_chain.hpp"
#include "tests/ais/sensitive/chain_recording.hpp"
#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/alternating_bursts.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

namespace keelwave::ais::test {
namespace {

constexpr double pairsPerBit = 30.0;  // 288000 pairs/s at 9600 bit/s
constexpr double fullScale = 128.0;   // 8-bit steps of a full-scale carrier
// The transmitter model's noise figure is over 48 kHz; the offsets' SNR is in 25 kHz.
const double noiseBandCorrectionDb = 10.0 * std::log10(48000.0 / 25000.0);

void keepReception(void* context, const AisMessage& message) {
    static_cast<std::vector<Reception>*>(context)->push_back(message.reception);
}

/// Channel A's chain of `kind`, what it measured of each message it printed kept in `heard`.
std::unique_ptr<DecodingChain> channelA(ChainKind kind, std::vector<Reception>& heard) {
    const MessageSink sink{&keepReception, &heard};
    if (kind == ChainKind::sensitive) {
        return std::make_unique<SensitiveChain>('A', -25000.0, false, sink, nullptr, nullptr);
    }
    return std::make_unique<ClassicChain>('A', -25000, false, sink, nullptr, nullptr);
}

struct Measured {
    std::vector<double> flagStarts;  ///< where each burst's start flag begins, tuner pairs
    std::vector<Reception> heard;
};

/// Four bursts on channel A sent as `settings` says, at starts spread over a bit, decoded by
/// the chain of `kind` in tuner blocks.
Measured sendAndMeasure(ChainKind kind, const transmitter::RecordingSettings& settings) {
    transmitter::SlotPlan plan;
    plan.firstSlotSample = 10000;
    const transmitter::AlternatingLayout layout{
        'A', [](std::size_t i) { return 0.3 * static_cast<double>(i); }, false};
    const auto laidOut = transmitter::layOutAlternately(corpusMessages(4), plan, layout);
    std::ostringstream out;
    transmitter::writeRecording(laidOut.bursts, static_cast<int64_t>(laidOut.endSample) + 20000,
                                settings, transmitter::makeGmskPulse(), out);
    const std::string bytes = out.str();
    const std::vector<float> samples =
        fromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    Measured measured;
    for (const auto& burst : laidOut.bursts) {
        measured.flagStarts.push_back(burst.startSample +
                                      (transmitter::rampUpBits + transmitter::trainingBits) *
                                          pairsPerBit);
    }
    const auto chain = channelA(kind, measured.heard);
    constexpr std::size_t blockFloats = 102400;
    for (std::size_t start = 0; start < samples.size(); start += blockFloats) {
        const auto count = static_cast<uint32_t>(std::min(blockFloats, samples.size() - start));
        chain->processBlock({samples.data() + start, count, static_cast<int64_t>(start / 2)});
    }
    chain->finish();
    return measured;
}

TEST(Reception, EachPrintedBurstIsPlacedWithinABitAndMeasuredWithinItsTolerance) {
    struct Case {
        ChainKind kind;
        double amplitude;  // 8-bit steps; 127 is 0.1 dB below full scale
        double offsetHz;
        double offsetTolerance;  // Hz
    };
    // 40 dB of amplitudes without noise; offsets where each chain hears, at 20 dB.
    const Case cases[] = {
        {ChainKind::classic, 1.27, 0.0, 500.0},       {ChainKind::classic, 127.0, 0.0, 500.0},
        {ChainKind::classic, 40.0, -500.0, 500.0},    {ChainKind::classic, 40.0, 500.0, 500.0},
        {ChainKind::sensitive, 1.27, 0.0, 100.0},     {ChainKind::sensitive, 127.0, 0.0, 100.0},
        {ChainKind::sensitive, 40.0, -4000.0, 100.0}, {ChainKind::sensitive, 40.0, 4000.0, 100.0},
        {ChainKind::sensitive, 40.0, 1500.0, 100.0},
    };
    for (const Case& c : cases) {
        transmitter::RecordingSettings settings;
        settings.amplitude = c.amplitude;
        settings.carrierOffsetHz = c.offsetHz;
        if (c.offsetHz != 0.0) {
            settings.snrDb = 20.0 - noiseBandCorrectionDb;
        }
        const Measured measured = sendAndMeasure(c.kind, settings);
        SCOPED_TRACE(std::string(chainName(c.kind)) + " at " + std::to_string(c.amplitude) +
                     " steps, " + std::to_string(c.offsetHz) + " Hz");
        ASSERT_EQ(measured.heard.size(), measured.flagStarts.size());
        for (const Reception& heard : measured.heard) {
            // The burst it is: the one whose flag begins nearest.
            double sent = measured.flagStarts.front();
            for (const double start : measured.flagStarts) {
                if (std::fabs(start - heard.streamPair) < std::fabs(sent - heard.streamPair)) {
                    sent = start;
                }
            }
            EXPECT_NEAR(static_cast<double>(heard.streamPair), sent, pairsPerBit);
            EXPECT_NEAR(heard.levelDb, 20.0 * std::log10(c.amplitude / fullScale), 1.0);
            EXPECT_NEAR(heard.offsetHz, c.offsetHz, c.offsetTolerance);
        }
    }
}

}  // namespace
}  // namespace keelwave::ais::test
