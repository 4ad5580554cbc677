#include "tools/transmitter/gmsk_pulse.hpp"

#include <algorithm>
#include <cmath>

namespace keelwave::transmitter {

namespace {

constexpr double tailSigmas = 6.0;  // Gaussian tails kept: beyond 6 sigma they are below 1e-9

double normalCdf(double x) {
    return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

double normalPdf(double x) {
    return std::exp(-0.5 * x * x) / std::sqrt(2.0 * pi);
}

// Integral from -infinity to x of the Gaussian-smoothed step, Phi(t / sigma) dt.
double smoothedRamp(double x, double sigma) {
    return x * normalCdf(x / sigma) + sigma * normalPdf(x / sigma);
}

}  // namespace

GmskPulse makeGmskPulse(double bandwidthTime, int stepsPerBit) {
    // A Gaussian low-pass with 3 dB bandwidth B has impulse response of standard deviation
    // sqrt(ln 2) / (2 pi B); with B = BT / T this is in bits.
    const double sigma = std::sqrt(std::log(2.0)) / (2.0 * pi * bandwidthTime);
    const double reach = std::ceil(tailSigmas * sigma * stepsPerBit) / stepsPerBit;
    GmskPulse pulse;
    pulse.firstBit = -reach;
    pulse.stepsPerBit = stepsPerBit;
    const auto entries = static_cast<std::size_t>(std::lround((1.0 + 2.0 * reach) * stepsPerBit));
    pulse.table.resize(entries + 1);
    for (std::size_t index = 0; index <= entries; ++index) {
        const double u = pulse.firstBit + static_cast<double>(index) / stepsPerBit;
        // The rectangle from 0 to 1 smoothed is Phi(u / sigma) - Phi((u - 1) / sigma); its
        // integral is the difference of two smoothed ramps.
        pulse.table[index] = smoothedRamp(u, sigma) - smoothedRamp(u - 1.0, sigma);
    }
    return pulse;
}

double pulseIntegral(const GmskPulse& pulse, double u) {
    const double position = (u - pulse.firstBit) * pulse.stepsPerBit;
    if (position <= 0.0) {
        return 0.0;
    }
    const auto last = pulse.table.size() - 1;
    if (position >= static_cast<double>(last)) {
        return 1.0;
    }
    const auto index = static_cast<std::size_t>(position);
    const double fraction = position - static_cast<double>(index);
    return pulse.table[index] + fraction * (pulse.table[index + 1] - pulse.table[index]);
}

double pulseReachBits(const GmskPulse& pulse) {
    return -pulse.firstBit;
}

double phaseAdvance(const GmskPulse& pulse, const Bits& levels, double uFrom, double uTo) {
    const double reach = pulseReachBits(pulse);
    // Only bits whose pulse is still rising somewhere in [uFrom, uTo] contribute.
    const auto count = static_cast<long>(levels.size());
    const long first = std::max(0L, static_cast<long>(std::floor(uFrom - 1.0 - reach)));
    const long last = std::min(count - 1, static_cast<long>(std::ceil(uTo + reach)));
    double sum = 0.0;
    for (long k = first; k <= last; ++k) {
        const double swept = pulseIntegral(pulse, uTo - static_cast<double>(k)) -
                             pulseIntegral(pulse, uFrom - static_cast<double>(k));
        sum += levels[static_cast<std::size_t>(k)] != 0 ? swept : -swept;
    }
    return sum;
}

}  // namespace keelwave::transmitter
