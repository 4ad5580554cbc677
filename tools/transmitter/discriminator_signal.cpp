#include "tools/transmitter/discriminator_signal.hpp"

#include <algorithm>
#include <cmath>

namespace keelwave::transmitter {

namespace {

constexpr double partsPerMillion = 1e-6;

}  // namespace

double samplesPerBit(double clockErrorPpm) {
    return discriminatorRate / aisBitRate * (1.0 + clockErrorPpm * partsPerMillion);
}

void addBurstFrequency(const GmskPulse& pulse, const Bits& levels,
                       const DiscriminatorSettings& settings, std::vector<double>& samples) {
    const double perBit = samplesPerBit(settings.clockErrorPpm);
    // One bit at full deviation turns the phase by 2 pi * deviation * bit duration; in units
    // of pi / 16384 that is 32768 * deviation * perBit / 48000.
    const double unitsPerBitSwept = unitsPerHz * settings.deviationHz * perBit;
    const double reach = pulseReachBits(pulse);
    const double first = settings.startSample - reach * perBit;
    const double last =
        settings.startSample + (static_cast<double>(levels.size()) + reach) * perBit + 1.0;
    const auto begin = static_cast<long>(std::max(0.0, std::floor(first)));
    const auto end =
        static_cast<long>(std::min(static_cast<double>(samples.size()), std::ceil(last)));
    for (long n = begin; n < end; ++n) {
        const double uTo = (static_cast<double>(n) - settings.startSample) / perBit;
        const double uFrom = uTo - 1.0 / perBit;
        samples[static_cast<std::size_t>(n)] +=
            unitsPerBitSwept * phaseAdvance(pulse, levels, uFrom, uTo);
    }
}

std::vector<std::int16_t> quantizeDiscriminator(const std::vector<double>& samples, double noiseRms,
                                                GaussianNoise& noise) {
    std::vector<std::int16_t> out;
    out.reserve(samples.size());
    for (const double sample : samples) {
        const double noisy = noiseRms > 0.0 ? sample + noiseRms * nextGaussian(noise) : sample;
        const double clamped = std::clamp(std::round(noisy), -double{discriminatorFullScale},
                                          double{discriminatorFullScale});
        out.push_back(static_cast<std::int16_t>(clamped));
    }
    return out;
}

std::vector<std::int16_t> discriminatorBurst(const GmskPulse& pulse, const Bits& levels,
                                             const DiscriminatorSettings& settings,
                                             GaussianNoise& noise) {
    const double perBit = samplesPerBit(settings.clockErrorPpm);
    const double end = settings.startSample +
                       (static_cast<double>(levels.size()) + pulseReachBits(pulse)) * perBit;
    std::vector<double> samples(static_cast<std::size_t>(std::max(0.0, std::ceil(end))) + 1, 0.0);
    addBurstFrequency(pulse, levels, settings, samples);
    return quantizeDiscriminator(samples, settings.noiseRms, noise);
}

}  // namespace keelwave::transmitter
