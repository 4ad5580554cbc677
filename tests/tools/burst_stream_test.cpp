#include "tools/transmitter/burst_stream.hpp"

#include "tools/transmitter/ais_burst.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace transmitter;

namespace {

constexpr double kDeviationUnits = 1638.4;  // 2400 Hz at 1.46484375 Hz per unit

Bits messageOfLength(std::size_t length) {
    Bits bits(length, 0);
    bits[5] = 1;  // identifier 1
    for (std::size_t index = 6; index < length; index += 3) {
        bits[index] = 1;
    }
    return bits;
}

}  // namespace

TEST(BurstStream, NoiseForAnSnrIsTheDeviationScaledDown) {
    EXPECT_DOUBLE_EQ(noiseRmsForSnr(0.0), kDeviationUnits);
    EXPECT_NEAR(noiseRmsForSnr(20.0), kDeviationUnits / 10.0, 1e-9);
    EXPECT_NEAR(noiseRmsForSnr(6.0, 1200.0), kDeviationUnits / 2.0 / std::pow(10.0, 0.3), 1e-9);
}

TEST(BurstStream, BurstsTakeTheNextFreeSlotsAtTheirOffsets) {
    // 168 bits make a one-slot burst, 424 bits a burst longer than a slot.
    const std::vector<Bits> messages = {messageOfLength(168), messageOfLength(424),
                                        messageOfLength(168)};
    StreamSettings settings;
    settings.leadSlots = 2;
    settings.trailSlots = 3;
    settings.firstOffsetSamples = 1.5;
    settings.offsetStepSamples = 2.0;
    const BurstStream stream = renderBurstStream(makeGmskPulse(), messages, settings);
    ASSERT_EQ(stream.burstStarts.size(), 3u);
    EXPECT_DOUBLE_EQ(stream.burstStarts[0], 2 * kSlotDiscriminatorSamples + 1.5);
    EXPECT_DOUBLE_EQ(stream.burstStarts[1], 3 * kSlotDiscriminatorSamples + 3.5);
    EXPECT_DOUBLE_EQ(stream.burstStarts[2], 5 * kSlotDiscriminatorSamples + 0.5);  // 5.5 - 5
    EXPECT_EQ(stream.samples.size(), static_cast<std::size_t>(9 * kSlotDiscriminatorSamples));
}

TEST(BurstStream, EachBurstSoundsAsItWouldAlone) {
    const std::vector<Bits> messages = {messageOfLength(168), messageOfLength(72)};
    StreamSettings settings;
    settings.firstOffsetSamples = 0.3;
    settings.offsetStepSamples = 1.7;
    settings.clockErrorPpm = 50.0;
    const GmskPulse pulse = makeGmskPulse();
    const BurstStream stream = renderBurstStream(pulse, messages, settings);
    for (std::size_t index = 0; index < messages.size(); ++index) {
        // The same burst rendered alone, shifted by whole samples.
        const auto shift = static_cast<long>(std::floor(stream.burstStarts[index]));
        DiscriminatorSettings alone;
        alone.startSample = stream.burstStarts[index] - static_cast<double>(shift);
        alone.clockErrorPpm = settings.clockErrorPpm;
        GaussianNoise noise = makeGaussianNoise(1);
        const auto single =
            discriminatorBurst(pulse, nrziEncode(burstBits(messages[index])), alone, noise);
        for (std::size_t n = 0; n < single.size(); ++n) {
            ASSERT_LE(std::abs(stream.samples[static_cast<std::size_t>(shift) + n] - single[n]), 1)
                << "burst " << index << " sample " << n;
        }
    }
    // Silence before the first burst and after the last.
    EXPECT_EQ(stream.samples[100], 0);
    EXPECT_EQ(stream.samples.back(), 0);
}

TEST(BurstStream, CarrierOffsetLastsOnlyWhileTheCarrierIsOn) {
    StreamSettings settings;
    settings.carrierOffsetHz = 300.0;  // 204.8 units
    const BurstStream stream = renderBurstStream(makeGmskPulse(), {messageOfLength(168)}, settings);
    const auto start = static_cast<std::size_t>(stream.burstStarts[0]);
    // The 8 ramp-up bits hold level 0: the full deviation downwards, plus the offset.
    EXPECT_NEAR(stream.samples[start + 20], -kDeviationUnits + 204.8, 1.0);
    EXPECT_EQ(stream.samples[start - 20], 0);
    EXPECT_EQ(stream.samples.back(), 0);
}

TEST(BurstStream, NoiseRunsThroughTheGaps) {
    StreamSettings settings;
    settings.noiseRms = 200.0;
    settings.leadSlots = 4;
    const BurstStream stream = renderBurstStream(makeGmskPulse(), {messageOfLength(168)}, settings);
    double sumOfSquares = 0.0;
    const auto gap = static_cast<std::size_t>(stream.burstStarts[0]) - 100;
    for (std::size_t n = 0; n < gap; ++n) {
        sumOfSquares += static_cast<double>(stream.samples[n]) * stream.samples[n];
    }
    EXPECT_NEAR(std::sqrt(sumOfSquares / static_cast<double>(gap)), 200.0, 10.0);
}
