#include "tools/transmitter/gaussian_noise.hpp"

#include <cmath>

namespace keelwave::transmitter {

namespace {

constexpr double twoPi = 6.28318530717958647692;
constexpr int mantissaBits = 53;                           // a double holds 53 significant bits
constexpr double mantissaStep = 1.0 / 9007199254740992.0;  // 2^-53

}  // namespace

GaussianNoise makeGaussianNoise(std::uint64_t seed) {
    GaussianNoise noise;
    noise.engine.seed(seed);
    return noise;
}

double nextUniform(GaussianNoise& noise) {
    // The top 53 bits, plus one so that 0 never comes out (log(0) below).
    return static_cast<double>((noise.engine() >> (64 - mantissaBits)) + 1) * mantissaStep;
}

double nextGaussian(GaussianNoise& noise) {
    if (noise.hasSpare) {
        noise.hasSpare = false;
        return noise.spare;
    }
    const double radius = std::sqrt(-2.0 * std::log(nextUniform(noise)));
    const double angle = twoPi * nextUniform(noise);
    noise.spare = radius * std::sin(angle);
    noise.hasSpare = true;
    return radius * std::cos(angle);
}

}  // namespace keelwave::transmitter
