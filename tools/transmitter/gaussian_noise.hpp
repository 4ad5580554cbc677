#pragma once

#include <cstdint>
#include <random>

namespace keelwave::transmitter {

/// Seeded source of standard normal numbers. Box-Muller over the 64-bit Mersenne Twister, both
/// fully defined, so a seed gives the same noise with every compiler and standard library.
struct GaussianNoise {
    std::mt19937_64 engine;
    bool hasSpare = false;  ///< Box-Muller makes two numbers at a time
    double spare = 0.0;
};

GaussianNoise makeGaussianNoise(std::uint64_t seed);

/// The next number of mean 0 and standard deviation 1.
double nextGaussian(GaussianNoise& noise);

/// The next number uniformly distributed in (0, 1].
double nextUniform(GaussianNoise& noise);

}  // namespace keelwave::transmitter
