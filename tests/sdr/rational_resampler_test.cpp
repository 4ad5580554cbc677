// The resampler from a device's rate down to 288000 pairs/s: tones of the band the channels
// read come out at their frequency and level, whatever the ratio; tones that would fold onto
// the channels are gone; the blocks the device happens to deliver change nothing.
#include "sdr/rational_resampler.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace keelwave::test {
namespace {

using namespace sdr;

constexpr uint32_t outputRate = 288000;
constexpr double pi = 3.14159265358979323846;
constexpr double toneSteps = 100.0;  // amplitude in steps of the 8-bit stream

/// A complex tone of `hertz` at `rate`, `pairs` long, I/Q interleaved.
std::vector<float> tone(double hertz, uint32_t rate, uint32_t pairs) {
    std::vector<float> samples(2 * pairs);
    for (uint32_t n = 0; n < pairs; ++n) {
        const double phase = 2.0 * pi * std::fmod(hertz * n / rate, 1.0);
        samples[2 * n] = static_cast<float>(toneSteps * std::cos(phase));
        samples[2 * n + 1] = static_cast<float>(toneSteps * std::sin(phase));
    }
    return samples;
}

/// Resamples `input` in blocks of the sizes in `blocks`, cycled.
std::vector<float> resample(uint32_t rate, const std::vector<float>& input,
                            const std::vector<uint32_t>& blocks) {
    const ResamplerDesign design = designResampler(rate, outputRate);
    ResamplerState state;
    resetResampler(state, design, *std::max_element(blocks.begin(), blocks.end()));
    std::vector<float> output;
    std::vector<float> out;
    const auto pairs = static_cast<uint32_t>(input.size() / 2);
    for (uint32_t done = 0, next = 0; done < pairs; ++next) {
        const uint32_t count = std::min(blocks[next % blocks.size()], pairs - done);
        out.resize(2 * maxResampledPairs(design, count));
        const uint32_t written =
            resampleBlock(design, state, input.data() + 2 * done, count, out.data());
        output.insert(output.end(), out.begin(), out.begin() + 2 * written);
        done += count;
    }
    return output;
}

/// Level in dB, relative to the tone sent, of the output at `hertz` over its second half
/// (the filter has long settled), and of everything in it.
std::pair<double, double> levels(const std::vector<float>& output, double hertz) {
    const std::size_t pairs = output.size() / 2;
    std::complex<double> sum;
    double power = 0.0;
    for (std::size_t n = pairs / 2; n < pairs; ++n) {
        const std::complex<double> sample(output[2 * n], output[2 * n + 1]);
        sum += sample * std::polar(1.0, -2.0 * pi * std::fmod(hertz * n / outputRate, 1.0));
        power += std::norm(sample);
    }
    const double count = static_cast<double>(pairs - pairs / 2);
    return {20.0 * std::log10(std::abs(sum) / count / toneSteps + 1e-30),
            10.0 * std::log10(power / count / (toneSteps * toneSteps) + 1e-30)};
}

TEST(RationalResampler, PassesTheChannelsAtTheirFrequencyAndStopsWhatWouldFoldOntoThem) {
    struct Case {
        uint32_t rate;  // input, pairs/s
        double hertz;   // tone
        bool passed;    // in the passband: at the output at its frequency, at its level
    };
    const Case cases[] = {
        {576000, -25000, true},  {576000, 90000, true},     {576000, 263000, false},
        {1152000, 25000, true},  {1152000, -313000, false}, {1152000, 551000, false},
        {2048000, -37500, true}, {2048000, 263000, false},  {2048000, -601000, false},
        {2500000, 0, true},      {2500000, 95000, true},    {2500000, 1177000, false},
        {3200000, 12500, true},  {3200000, -263000, false}, {3200000, 193000, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.rate) + " pairs/s, tone " + std::to_string(test.hertz));
        // A quarter of a second in ragged blocks, as a driver delivers them.
        const std::vector<float> output =
            resample(test.rate, tone(test.hertz, test.rate, test.rate / 4), {16384, 1001, 7});
        EXPECT_NEAR(output.size() / 2.0, outputRate / 4.0, 1.0);
        const auto [atTone, overall] = levels(output, test.hertz);
        if (test.passed) {
            EXPECT_NEAR(atTone, 0.0, 0.01);
            EXPECT_NEAR(overall, 0.0, 0.01);
        } else {
            EXPECT_LT(overall, -79.0);
        }
    }
}

TEST(RationalResampler, GivesTheSameOutputWhateverTheBlocks) {
    for (const uint32_t rate : {1152000u, 2500000u}) {
        const std::vector<float> input = tone(31000, rate, rate / 10);
        EXPECT_EQ(resample(rate, input, {16384}), resample(rate, input, {1, 4093, 250, 16384}));
    }
}

TEST(RationalResampler, RefusesRatesItCannotTake) {
    EXPECT_FALSE(resamplingRatio(250000, outputRate));   // slower than the output
    EXPECT_FALSE(resamplingRatio(2999999, outputRate));  // 288000 phases
    const auto ratio = resamplingRatio(2500000, outputRate);
    ASSERT_TRUE(ratio);
    EXPECT_EQ(std::make_pair(ratio->interpolation, ratio->decimation), std::make_pair(72u, 625u));
}

}  // namespace
}  // namespace keelwave::test
