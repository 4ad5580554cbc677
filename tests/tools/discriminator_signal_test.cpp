#include "tools/transmitter/discriminator_signal.hpp"

#include "tools/transmitter/ais_burst.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

using namespace transmitter;

namespace {

constexpr double kFullDeviationUnits = 1638.4;  // 2400 Hz at 1.46484375 Hz per unit

// The frequency pulse itself, straight from its definition (a one-bit rectangle through a
// Gaussian of BT 0.4), independent of the integrated table the model uses.
double frequencyPulse(double u) {
    const double sigma = std::sqrt(std::log(2.0)) / (2.0 * M_PI * 0.4);
    const auto phi = [](double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); };
    return phi(u / sigma) - phi((u - 1.0) / sigma);
}

// Highest instantaneous frequency of a periodic level pattern, in units of full deviation.
double patternPeak(const Bits& period) {
    double peak = 0.0;
    for (double u = 40.0; u < 40.0 + static_cast<double>(period.size()); u += 0.01) {
        double sum = 0.0;
        for (int k = 30; k < 50; ++k) {
            sum += (period[static_cast<std::size_t>(k) % period.size()] != 0 ? 1.0 : -1.0) *
                   frequencyPulse(u - k);
        }
        peak = std::max(peak, sum);
    }
    return peak;
}

Bits repeated(const Bits& period, std::size_t count) {
    Bits levels;
    while (levels.size() < count) {
        levels.insert(levels.end(), period.begin(), period.end());
    }
    levels.resize(count);
    return levels;
}

std::vector<std::int16_t> render(const Bits& levels, DiscriminatorSettings settings = {}) {
    GaussianNoise noise = makeGaussianNoise(1);
    return discriminatorBurst(makeGmskPulse(), levels, settings, noise);
}

// Upward zero crossings between samples `from` and `to`, by linear interpolation.
std::vector<double> risingCrossings(const std::vector<std::int16_t>& samples, std::size_t from,
                                    std::size_t to) {
    std::vector<double> crossings;
    for (std::size_t n = from + 1; n < to; ++n) {
        if (samples[n - 1] < 0 && samples[n] >= 0) {
            crossings.push_back(static_cast<double>(n - 1) +
                                -samples[n - 1] / static_cast<double>(samples[n] - samples[n - 1]));
        }
    }
    return crossings;
}

}  // namespace

TEST(DiscriminatorSignal, SteadyLevelsGiveTheFullDeviation) {
    // A run of 1s keeps the NRZI level, so the carrier stays on one side: +-2400 Hz.
    for (const std::uint8_t level : {0, 1}) {
        const auto samples = render(Bits(100, level));
        for (std::size_t n = 50; n < 450; ++n) {
            ASSERT_NEAR(samples[n], level != 0 ? kFullDeviationUnits : -kFullDeviationUnits, 0.6);
        }
    }
}

TEST(DiscriminatorSignal, AlternatingPatternsAverageZeroAndSwingAsTheGaussianPulseAllows) {
    // Levels that change every bit (a run of 0s) swing to about 0.74 of the deviation, the
    // 24-bit training (levels changing every second bit) to almost all of it.
    struct Case {
        Bits period;
        double expectedPeak;  // share of the full deviation
    } cases[] = {{{1, 0}, 0.74}, {{0, 0, 1, 1}, 0.99}};
    for (const Case& c : cases) {
        const double peak = patternPeak(c.period);
        EXPECT_NEAR(peak, c.expectedPeak, 0.01);
        const auto samples = render(repeated(c.period, 400));
        const auto begin = samples.begin() + 100;
        const auto end = samples.begin() + 100 + 1600;  // whole periods
        const double mean = std::accumulate(begin, end, 0.0) / 1600.0;
        EXPECT_NEAR(mean, 0.0, 2.0);
        EXPECT_NEAR(*std::max_element(begin, end), peak * kFullDeviationUnits, 0.03 * 1638.4);
        EXPECT_NEAR(*std::min_element(begin, end), -peak * kFullDeviationUnits, 0.03 * 1638.4);
    }
}

TEST(DiscriminatorSignal, ClockErrorStretchesTheBitsByThePpm) {
    const Bits alternating = repeated({0, 1}, 400);
    for (const double ppm : {-6000.0, 0.0, 6000.0}) {
        DiscriminatorSettings settings;
        settings.clockErrorPpm = ppm;
        const auto samples = render(alternating, settings);
        const auto crossings = risingCrossings(samples, 20, samples.size() - 20);
        ASSERT_GT(crossings.size(), 150u);
        const double spacing =
            (crossings.back() - crossings.front()) / static_cast<double>(crossings.size() - 1);
        EXPECT_NEAR(spacing / 10.0 - 1.0, ppm * 1e-6, 2e-5) << ppm;  // two bits per period

        // A steady burst falls through half its deviation where its last bit ends.
        const auto steady = render(Bits(300, 1), settings);
        std::size_t lastHigh = 0;
        for (std::size_t n = 0; n < steady.size(); ++n) {
            lastHigh = steady[n] > kFullDeviationUnits / 2 ? n : lastHigh;
        }
        EXPECT_NEAR(static_cast<double>(lastHigh), 1500.0 * (1.0 + ppm * 1e-6), 1.0) << ppm;
    }
}

TEST(DiscriminatorSignal, StartSampleShiftsTheSamplingPhase) {
    const Bits alternating = repeated({0, 1}, 100);
    const auto reference = risingCrossings(render(alternating), 1, 400);
    ASSERT_EQ(reference.size(), 40u);
    for (const double start : {0.37, 2.5, 4.9}) {
        DiscriminatorSettings settings;
        settings.startSample = start;
        const auto shifted = risingCrossings(render(alternating, settings), 1, 410);
        ASSERT_GE(shifted.size(), reference.size());
        for (std::size_t index = 0; index < reference.size(); ++index) {
            EXPECT_NEAR(shifted[index] - reference[index], start, 0.05);
        }
    }
}

TEST(DiscriminatorSignal, NoiseIsSeededAndOfTheRequestedLevel) {
    const std::vector<double> silence(200000, 0.0);
    GaussianNoise first = makeGaussianNoise(42);
    GaussianNoise again = makeGaussianNoise(42);
    GaussianNoise other = makeGaussianNoise(43);
    const auto samples = quantizeDiscriminator(silence, 300.0, first);
    EXPECT_EQ(samples, quantizeDiscriminator(silence, 300.0, again));
    EXPECT_NE(samples, quantizeDiscriminator(silence, 300.0, other));
    double sum = 0.0;
    double squares = 0.0;
    for (const std::int16_t sample : samples) {
        sum += sample;
        squares += static_cast<double>(sample) * sample;
    }
    const double mean = sum / samples.size();
    EXPECT_NEAR(mean, 0.0, 3.0);
    EXPECT_NEAR(std::sqrt(squares / samples.size() - mean * mean), 300.0, 3.0);
}

TEST(DiscriminatorSignal, ClampsToThePhaseStepOfPi) {
    DiscriminatorSettings settings;
    settings.deviationHz = 30000.0;  // beyond the +-24000 Hz a 48000/s discriminator can show
    const auto samples = render(Bits(50, 1), settings);
    EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), 16384);
    EXPECT_EQ(render(Bits(50, 0), settings)[100], -16384);
}
