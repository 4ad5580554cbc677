// One channel out of the tuner's stream: oscillator, integrate-and-dump and discriminator.
#include "ais/classic/channel_demodulator.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace keelwave::test {
namespace {

using namespace ais;

constexpr double pi = 3.141592653589793;
constexpr double tunerRate = 288000.0;  // I/Q pairs per second

/// Keeps every block the demodulator hands on.
struct Collector : DiscriminatorDecoder {
    void process(const int16_t* samples, int32_t count) override {
        blocks.emplace_back(samples, samples + count);
    }
    void restart() override { blocks.emplace_back(); }  // an empty block marks it
    std::vector<std::vector<int16_t>> blocks;
};

DemodulatorState channel(int32_t frequency) {
    DemodulatorState state;
    state.phaseIncrement = channelPhaseIncrement(frequency, 162000000);
    return state;
}

/// A complex tone at `hz` from the tuner centre, as whole 8-bit steps, I first.
std::vector<float> tone(double hz, std::size_t pairs) {
    std::vector<float> samples;
    for (std::size_t n = 0; n < pairs; ++n) {
        const double phase = 2 * pi * hz * static_cast<double>(n) / tunerRate;
        samples.push_back(static_cast<float>(std::round(50 * std::cos(phase))));
        samples.push_back(static_cast<float>(std::round(50 * std::sin(phase))));
    }
    return samples;
}

TEST(ChannelDemodulator, OscillatorsSitAtTheChannelsFloatOffsets) {
    EXPECT_FLOAT_EQ(channelPhaseIncrement(161975000, 162000000), -0.54524088f);
    EXPECT_FLOAT_EQ(channelPhaseIncrement(162025000, 162000000), 0.54524088f);
    float phase = 0.0f;
    for (int step = 0; step < 10000000; ++step) {
        advanceOscillator(phase, -0.54524088f);
        ASSERT_LE(std::fabs(phase), 3.1415930f) << step;
    }
}

TEST(ChannelDemodulator, AToneReadsAsItsFrequencyAboveTheOscillator) {
    struct Case {
        int32_t channelHz;
        double toneHz;  // from the tuner centre
        double mean;    // discriminator units, 1.46484375 Hz each
    };
    const Case cases[] = {
        {161975000, -22592.0, 2400.0 / 1.46484375}, {161975000, -27392.0, -2400.0 / 1.46484375},
        {161975000, -25000.0, -8.0 / 1.46484375},   {162025000, 25000.0, 8.0 / 1.46484375},
        {162025000, 26492.0, 1500.0 / 1.46484375},
    };
    for (const Case& c : cases) {
        DemodulatorState state = channel(c.channelHz);
        Collector decoder;
        const std::vector<float> samples = tone(c.toneHz, 6 * 4096 * 2);
        demodulateBlock(state, samples.data(), static_cast<uint32_t>(samples.size()), decoder);
        ASSERT_EQ(decoder.blocks.size(), 2u);
        const auto& last = decoder.blocks.back();
        const double mean = std::accumulate(last.begin(), last.end(), 0.0) / 4096;
        EXPECT_NEAR(mean, c.mean, 1.0) << c.toneHz << " Hz";
    }
}

}  // namespace
}  // namespace keelwave::test
