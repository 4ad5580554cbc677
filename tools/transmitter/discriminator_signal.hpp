#pragma once

#include "tools/transmitter/gaussian_noise.hpp"
#include "tools/transmitter/gmsk_pulse.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keelwave::transmitter {

/// The decoder's input: FM-discriminator samples at 48000 samples/s, 9600 bit/s, so 5 samples
/// per bit. A sample is the phase turned since the previous sample, 16384 units = pi radians,
/// which makes one unit 48000 / 32768 = 1.46484375 Hz and the AIS deviation of 2400 Hz
/// 1638.4 units.
constexpr double discriminatorRate = 48000.0;  // samples per second
constexpr double aisBitRate = 9600.0;          // bits per second
constexpr double aisDeviationHz = 2400.0;      // peak frequency deviation
constexpr double unitsPerHz = 32768.0 / discriminatorRate;
constexpr int discriminatorFullScale = 16384;  // pi radians per sample

/// How one burst reaches the discriminator.
struct DiscriminatorSettings {
    double deviationHz = aisDeviationHz;
    /// Transmitter bit clock error: each bit lasts (1 + ppm / 1e6) nominal bits, so positive
    /// values stretch the burst.
    double clockErrorPpm = 0.0;
    /// Where the first bit begins, in samples; the fraction sets the phase of the sampling
    /// instants within the bits.
    double startSample = 0.0;
    double noiseRms = 0.0;  ///< additive white Gaussian noise, discriminator units
};

/// Samples per bit under a clock error in ppm (5 when the clock is exact).
double samplesPerBit(double clockErrorPpm);

/// Adds the noiseless discriminator output of a burst of NRZI `levels` (level 1 = deviation
/// upwards) to `samples`: sample n gets the phase turned between instants n - 1 and n. Only the
/// samples the burst reaches are touched; the rest of the buffer may lie outside it.
void addBurstFrequency(const GmskPulse& pulse, const Bits& levels,
                       const DiscriminatorSettings& settings, std::vector<double>& samples);

/// Adds `noiseRms` Gaussian noise, rounds to whole units and clamps to +-16384.
std::vector<std::int16_t> quantizeDiscriminator(const std::vector<double>& samples, double noiseRms,
                                                GaussianNoise& noise);

/// One burst alone: samples from 0 to just past the end of its last pulse, noise included.
std::vector<std::int16_t> discriminatorBurst(const GmskPulse& pulse, const Bits& levels,
                                             const DiscriminatorSettings& settings,
                                             GaussianNoise& noise);

}  // namespace keelwave::transmitter
