// The channel oscillator over an hour of samples. A file of its own: the loop is the test's,
// so it is built optimised, unlike the rest of the test code.
#include "sdr/channel_demodulator.hpp"

#include "sdr/sdr_device.hpp"
#include "tests/sdr/recording_decoder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

namespace {

struct OscillatorCase {
    const char* name;
    float increment;  // radians per sample
};

void PrintTo(const OscillatorCase& each, std::ostream* out) {
    *out << each.name;
}

class OscillatorTest : public testing::TestWithParam<OscillatorCase> {};

// An hour at 288000 samples/s: the phase never leaves [-pi, pi] by more than float rounding.
TEST_P(OscillatorTest, PhaseStaysWithinHalfATurnForAnHour) {
    constexpr uint64_t steps = uint64_t{288000} * 3600;
    constexpr double rounding = 1e-6;  // radians; a float ulp near pi is 2.4e-7
    float phase = 0.0f;
    float lowest = 0.0f;
    float highest = 0.0f;
    const float increment = GetParam().increment;
    for (uint64_t n = 0; n < steps; ++n) {
        advanceOscillator(phase, increment);
        lowest = std::min(lowest, phase);
        highest = std::max(highest, phase);
    }
    EXPECT_GE(lowest, -halfTurn - rounding);
    EXPECT_LE(highest, halfTurn + rounding);
    EXPECT_LT(lowest, -3.0f);  // both edges were really reached
    EXPECT_GT(highest, 3.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Increments, OscillatorTest,
    testing::Values(
        OscillatorCase{"ChannelA", channelPhaseIncrement(channelA, tunerCentreFrequency)},
        OscillatorCase{"ChannelB", channelPhaseIncrement(channelB, tunerCentreFrequency)},
        OscillatorCase{"ThreeRadians", 3.0f}),
    [](const testing::TestParamInfo<OscillatorCase>& oscillator) { return oscillator.param.name; });

}  // namespace
