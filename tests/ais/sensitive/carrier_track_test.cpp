#include "ais/sensitive/carrier_track.hpp"

#include "ais/sensitive/iq.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace keelwave::ais {
namespace {

// A burst's phases as a transmitter of index `index` sends them, with its frequency drifting,
// measured with noise; the filter started at the nominal index and no frequency must find
// what was sent from the levels and the phase errors alone.
TEST(CarrierTrack, LearnsTheIndexTheFrequencyAndItsDrift) {
    struct Case {
        const char* name;
        double index;
        double turn;      // radians per symbol
        double turnRate;  // radians per symbol per symbol
    };
    const Case cases[] = {
        {"nominal", 0.5, 0.0, 0.0},
        {"index 0.40, 150 Hz off", 0.40, 0.1, 0.0},
        {"index 0.60, 150 Hz off the other way", 0.60, -0.1, 0.0},
        // 300 Hz over 250 symbols.
        {"drifting", 0.5, 0.0, 8e-4},
    };
    constexpr int symbols = 250;
    constexpr double noise = 0.2;  // radians, about 6 dB signal to noise per symbol
    constexpr CarrierSpread spread = {0.3, 0.03, 2e-4, 0.04};
    constexpr CarrierWalk walk = {0.005, 5e-5};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::mt19937 random(11);
        std::normal_distribution<double> gaussian(0.0, noise);
        std::bernoulli_distribution level(0.5);
        CarrierTrack track;
        startCarrierTrack(track, 0.0, 0.0, 0.5, spread);
        double phase = 0.0;
        double turn = test.turn;
        double worst = 0.0;
        for (int k = 0; k < symbols; ++k) {
            const int32_t a = level(random) ? 1 : -1;
            phase += turn + pi * test.index * a;
            turn += test.turnRate;
            advanceCarrier(track, a, walk);
            const double error = std::remainder(phase + gaussian(random) - track.state[0], 2 * pi);
            correctCarrier(track, error, noise * noise);
            if (k > symbols / 2) {
                worst = std::max(worst, std::fabs(std::remainder(phase - track.state[0], 2 * pi)));
            }
        }
        EXPECT_NEAR(track.state[3], test.index, 0.005);
        EXPECT_NEAR(track.state[1], turn, 0.01);
        EXPECT_LT(worst, 0.3) << "the phase followed through the burst's second half";
    }
}

}  // namespace
}  // namespace keelwave::ais
