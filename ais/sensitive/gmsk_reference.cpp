#include "ais/sensitive/gmsk_reference.hpp"

#include <cmath>

namespace keelwave::ais {

namespace {

/// Bandwidth-time product of the AIS transmit filter.
constexpr double bandwidthTime = 0.4;
/// Symbols the frequency pulse is cut to: the Gaussian-smoothed bit, whose standard deviation
/// is 0.33 symbols at BT 0.4, is below 1e-5 of its peak beyond 2 symbols from its centre.
constexpr int32_t pulseSymbols = 4;
/// The start flag 0x7E as sent.
constexpr uint8_t flagBits[flagSymbols] = {0, 1, 1, 1, 1, 1, 1, 0};

double normalCdf(double x) {
    return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

// Integral of the Gaussian-smoothed unit step: the rectangle's edges turned into ramps.
double smoothedRamp(double x, double sigma) {
    return x * normalCdf(x / sigma) +
           sigma * std::exp(-0.5 * x * x / (sigma * sigma)) / std::sqrt(2.0 * pi);
}

// Share of one bit's phase turn (pi/2) completed `t` symbols into its cut pulse [0, 4].
double phaseShare(double t) {
    const double sigma = std::sqrt(std::log(2.0)) / (2.0 * pi * bandwidthTime);  // symbols
    const double half = pulseSymbols / 2.0;
    const auto uncut = [sigma](double u) {
        return smoothedRamp(u + 0.5, sigma) - smoothedRamp(u - 0.5, sigma);
    };
    if (t <= 0.0) {
        return 0.0;
    }
    if (t >= pulseSymbols) {
        return 1.0;
    }
    return uncut(t - half) / uncut(half);
}

// Laurent's main pulse for modulation index 1/2, centred on its peak, `u` in symbols:
// C0(t) = product over i < 4 of psi(t + i), psi(t) = sin(pi/2 share(t)) rising over the pulse
// and mirrored after it.
double mainPulse(double u) {
    const double t0 = u + (pulseSymbols + 1) / 2.0;
    if (t0 <= 0.0 || t0 >= pulseSymbols + 1) {
        return 0.0;
    }
    double product = 1.0;
    for (int32_t i = 0; i < pulseSymbols; ++i) {
        const double t = t0 + i;
        const double mirrored = t <= pulseSymbols ? t : 2.0 * pulseSymbols - t;
        product *= std::sin(pi / 2.0 * phaseShare(mirrored));
    }
    return product;
}

// The pulse's correlation with itself `lag` symbols away, over the filter's samples.
double pulseCorrelation(int32_t lag) {
    double sum = 0.0;
    for (int32_t n = -4 * samplesPerSymbol; n <= 4 * samplesPerSymbol; ++n) {
        const double u = static_cast<double>(n) / samplesPerSymbol;
        sum += mainPulse(u) * mainPulse(u - lag);
    }
    return sum;
}

// One training phase's preamble: its training starts with `firstTrainingBit`.
void initPreamble(PreambleReference& preamble, uint8_t firstTrainingBit, double leak,
                  double farLeak) {
    // Levels counted from +1 before the first bit; c_k = c_(k-1) a_k from c = +1.
    int8_t level = 1;
    int8_t symbol = 1;
    double levels[preambleSymbols];
    for (int32_t k = 0; k < preambleSymbols; ++k) {
        const uint8_t bit = k < trainingSymbols ? static_cast<uint8_t>((firstTrainingBit + k) & 1)
                                                : flagBits[k - trainingSymbols];
        if (bit == 0) {
            level = static_cast<int8_t>(-level);
        }
        levels[k] = level;
        preamble.levels[k] = level;
        symbol = static_cast<int8_t>(symbol * level);
        preamble.symbols[k] = symbol;
    }
    // The phase at each preamble symbol's instant; levels outside the preamble are unknown and
    // left out (their share there is small but for the first and the last two symbols).
    double phases[preambleSymbols];
    for (int32_t k = 0; k < preambleSymbols; ++k) {
        phases[k] = 0.0;
        for (int32_t i = 0; i < preambleSymbols; ++i) {
            phases[k] += pi / 2.0 * levels[i] * phaseShare(k - i + (pulseSymbols + 1) / 2.0);
        }
    }
    for (int32_t k = 0; k < preambleSymbols; ++k) {
        const double turn = k > firstKnownSymbol ? phases[k] - phases[k - 1] : 0.0;
        preamble.signalTurns[k] = k > firstKnownSymbol ? Iq{static_cast<float>(std::cos(turn)),
                                                            static_cast<float>(std::sin(turn))}
                                                       : Iq{};
    }
    // Symbols outside the preamble are unknown and left out (taken as 0).
    const auto known = [&preamble](int32_t k) -> double {
        return k >= 0 && k < preambleSymbols ? preamble.symbols[k] : 0.0;
    };
    for (int32_t k = 0; k < preambleSymbols; ++k) {
        const double re = known(k) - farLeak * (known(k - 2) + known(k + 2));
        const double im = leak * (known(k + 1) - known(k - 1));
        preamble.outputs[k] = quarterTurns(k) * Iq{static_cast<float>(re), static_cast<float>(im)};
    }
    for (int32_t i = 0; i < indexSteps; ++i) {
        const double halfTurns = pi * (lowestIndex + i * static_cast<double>(indexStep));
        Iq pseudo[preambleSymbols];
        double sum = 0.0;
        for (int32_t k = 0; k < preambleSymbols; ++k) {
            sum += levels[k];
            pseudo[k] = {static_cast<float>(std::cos(halfTurns * sum)),
                         static_cast<float>(std::sin(halfTurns * sum))};
        }
        const auto at = [&pseudo](int32_t k) {
            return k >= 0 && k < preambleSymbols ? pseudo[k] : Iq{};
        };
        preamble.indexPowers[i] = 0.0f;
        for (int32_t k = 0; k < preambleSymbols; ++k) {
            preamble.indexOutputs[i][k] = at(k) +
                                          (at(k - 1) + at(k + 1)) * static_cast<float>(leak) +
                                          (at(k - 2) + at(k + 2)) * static_cast<float>(farLeak);
            if (k >= firstKnownSymbol && k <= lastKnownSymbol) {
                preamble.indexPowers[i] += norm(preamble.indexOutputs[i][k]);
            }
        }
        for (int32_t j = 0; j < knownPadded; ++j) {
            const Iq output =
                j < knownSymbols ? preamble.indexOutputs[i][firstKnownSymbol + j] : Iq{};
            preamble.knownRe[i][j] = output.re;
            preamble.knownIm[i][j] = output.im;
        }
    }
    for (int32_t k = 0; k < preambleSymbols; ++k) {
        preamble.turns[k] =
            k > firstKnownSymbol ? timesConj(preamble.outputs[k], preamble.outputs[k - 1]) : Iq{};
    }
}

}  // namespace

void initGmskReference(GmskReference& reference) {
    for (int32_t step = 0; step < timingSteps; ++step) {
        double taps[matchedFilterTaps];
        double energy = 0.0;
        for (int32_t i = 0; i < matchedFilterTaps; ++i) {
            const double offset = i - matchedFilterLead - static_cast<double>(step) / timingSteps;
            taps[i] = mainPulse(offset / samplesPerSymbol);
            energy += taps[i] * taps[i];
        }
        for (int32_t i = 0; i < matchedFilterTaps; ++i) {
            reference.matchedTaps[step][i] = static_cast<float>(taps[i] / energy);
        }
    }
    const double ownEnergy = pulseCorrelation(0);
    const double leak = pulseCorrelation(1) / ownEnergy;
    const double farLeak = pulseCorrelation(2) / ownEnergy;
    reference.neighbourLeak = static_cast<float>(leak);
    reference.farLeak = static_cast<float>(farLeak);

    // A bit of level +1 between runs of the same or the other level.
    constexpr int32_t runBits = 2 * pulseSymbols + 1;
    for (int32_t before = 0; before < 2; ++before) {
        for (int32_t after = 0; after < 2; ++after) {
            const auto phaseAt = [&](int32_t instant) {
                double phase = 0.0;
                for (int32_t i = -runBits; i <= runBits; ++i) {
                    const double bitLevel = i == 0  ? 1.0
                                            : i < 0 ? (before ? 1.0 : -1.0)
                                                    : (after ? 1.0 : -1.0);
                    phase +=
                        pi / 2.0 * bitLevel * phaseShare(instant - i + (pulseSymbols + 1) / 2.0);
                }
                return phase;
            };
            reference.levelTurns[before][after] = static_cast<float>(phaseAt(0) - phaseAt(-1));
        }
    }
    for (int32_t phase = 0; phase < trainingPhases; ++phase) {
        initPreamble(reference.preambles[phase], static_cast<uint8_t>(phase), leak, farLeak);
    }
}

void matchedOutputs(const GmskReference& reference, const float* re, const float* im, int32_t count,
                    float* outputsRe, float* outputsIm) {
    // Each tap weighs a run of consecutive outputs at once, which the compiler keeps in vector
    // registers while the taps go by.
    const float* taps = reference.matchedTaps[0];
    for (int32_t start = 0; start < count; start += matchedBatch) {
        float sumsRe[matchedBatch] = {};
        float sumsIm[matchedBatch] = {};
        for (int32_t t = 0; t < matchedFilterTaps; ++t) {
            const float* fromRe = re + start + t - matchedFilterLead;
            const float* fromIm = im + start + t - matchedFilterLead;
            for (int32_t j = 0; j < matchedBatch; ++j) {
                sumsRe[j] += taps[t] * fromRe[j];
                sumsIm[j] += taps[t] * fromIm[j];
            }
        }
        for (int32_t j = 0; j < matchedBatch; ++j) {
            outputsRe[start + j] = sumsRe[j];
            outputsIm[start + j] = sumsIm[j];
        }
    }
}

}  // namespace keelwave::ais
