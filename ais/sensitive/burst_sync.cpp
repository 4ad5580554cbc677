#include "ais/sensitive/burst_sync.hpp"

#include <cmath>
#include <initializer_list>

namespace keelwave::ais {

namespace {

/// Lags of the frequency estimator: about a third of the known symbols, which keeps it near
/// its best accuracy while it stays unambiguous over 1 / ((10 + 1) T) = 870 Hz.
constexpr int32_t frequencyLags = 10;
/// Known preamble symbol the phase is measured at before it is carried back to symbol 0: the
/// middle, where an error in the frequency moves it least.
constexpr int32_t middleSymbol = (firstKnownSymbol + lastKnownSymbol) / 2;

struct PreambleMatch {
    float turnPerSymbol = 0.0f;
    float phase = 0.0f;  // at middleSymbol
    float amplitude = 0.0f;
    float match = 0.0f;
};

// The known preamble's matched-filter outputs, the last of them at sample `last` plus `step`,
// times the conjugate reference: the carrier alone, p_k = A e^(j (phi + omega k)).
struct PreambleCarrier {
    Iq carrier[knownSymbols];
    float outputPower = 0.0f;     // sum |z_k|^2
    float referencePower = 0.0f;  // sum |zref_k|^2
};

PreambleCarrier preambleCarrier(const PreambleReference& reference, const GmskReference& gmsk,
                                const float* re, const float* im, int32_t last, int32_t step,
                                bool conjugate) {
    PreambleCarrier result;
    for (int32_t i = 0; i < knownSymbols; ++i) {
        const int32_t k = firstKnownSymbol + i;
        const int32_t at = last - (lastKnownSymbol - k) * samplesPerSymbol;
        const Iq z = matchedOutput(gmsk, re + at, im + at, step);
        const Iq expected = conjugate ? conj(reference.outputs[k]) : reference.outputs[k];
        result.carrier[i] = timesConj(z, expected);
        result.outputPower += norm(z);
        result.referencePower += norm(expected);
    }
    return result;
}

// The carrier's turn per symbol, by Luise and Reggiannini's estimator.
float carrierTurn(const PreambleCarrier& preamble) {
    Iq lagged;
    for (int32_t m = 1; m <= frequencyLags; ++m) {
        for (int32_t i = m; i < knownSymbols; ++i) {
            lagged = lagged + timesConj(preamble.carrier[i], preamble.carrier[i - m]);
        }
    }
    return 2.0f * std::atan2(lagged.im, lagged.re) / (frequencyLags + 1);
}

// The carrier summed coherently with its turn taken out.
PreambleMatch coherentMatch(const PreambleCarrier& preamble, float turnPerSymbol) {
    // Each p_k turned back to the middle symbol's phase by a rotator stepping one symbol on.
    const float start = -turnPerSymbol * (firstKnownSymbol - middleSymbol);
    Iq rotator{std::cos(start), std::sin(start)};
    const Iq stepBack{std::cos(turnPerSymbol), -std::sin(turnPerSymbol)};
    Iq sum;
    for (int32_t i = 0; i < knownSymbols; ++i) {
        sum = sum + preamble.carrier[i] * rotator;
        rotator = rotator * stepBack;
    }
    PreambleMatch result;
    result.turnPerSymbol = turnPerSymbol;
    const float sumPower = norm(sum);
    result.phase = std::atan2(sum.im, sum.re);
    const float referencePower = preamble.referencePower;
    result.amplitude = referencePower > 0.0f ? std::sqrt(sumPower) / referencePower : 0.0f;
    const float scale = preamble.outputPower * referencePower;
    result.match = scale > 0.0f ? sumPower / scale : 0.0f;
    return result;
}

}  // namespace

BurstTiming synchroniseBurst(const GmskReference& reference, const float* re, const float* im,
                             const BurstCandidate& candidate) {
    // The frequency at the candidate's own timing serves the whole-sample timings around it:
    // two samples change it far less than its own error.
    const PreambleReference& preamble = reference.preambles[candidate.training];
    const float searchTurn =
        carrierTurn(preambleCarrier(preamble, reference, re, im, 0, 0, candidate.conjugate));
    float matches[2 * timingSearch + 1];
    int32_t best = 0;
    for (int32_t i = 0; i <= 2 * timingSearch; ++i) {
        const int32_t offset = i - timingSearch;
        matches[i] = coherentMatch(preambleCarrier(preamble, reference, re, im, offset, 0,
                                                   candidate.conjugate),
                                   searchTurn)
                         .match;
        if (matches[i] > matches[best]) {
            best = i;
        }
    }
    // A parabola through the best whole-sample timing and its neighbours.
    float fraction = 0.0f;
    if (best > 0 && best < 2 * timingSearch) {
        const float left = matches[best - 1];
        const float centre = matches[best];
        const float right = matches[best + 1];
        const float curvature = left - 2.0f * centre + right;
        if (curvature < 0.0f) {
            fraction = 0.5f * (left - right) / curvature;
        }
    }
    int32_t whole = best - timingSearch;
    int32_t step = static_cast<int32_t>(std::lround(fraction * timingSteps));
    if (step < 0) {
        step += timingSteps;
        whole -= 1;
    }
    if (step >= timingSteps) {
        step -= timingSteps;
        whole += 1;
    }
    // At the timing found, the training's phase that matches better: at low signal to noise
    // the detector may have taken one for the other.
    PreambleMatch final;
    int32_t training = candidate.training;
    for (int32_t phase = 0; phase < trainingPhases; ++phase) {
        const PreambleCarrier carrier = preambleCarrier(reference.preambles[phase], reference, re,
                                                        im, whole, step, candidate.conjugate);
        const PreambleMatch match = coherentMatch(carrier, carrierTurn(carrier));
        if (match.match > final.match) {
            final = match;
            training = phase;
        }
    }
    BurstTiming timing;
    timing.sample = candidate.instant + whole;
    timing.step = step;
    timing.turnPerSymbol = final.turnPerSymbol;
    timing.phase = final.phase - final.turnPerSymbol * middleSymbol;
    timing.amplitude = final.amplitude;
    timing.match = final.match;
    timing.conjugate = candidate.conjugate;
    timing.training = training;
    return timing;
}

BurstTiming alignTurns(const GmskReference& reference, const float* re, const float* im,
                       const BurstCandidate& candidate) {
    BurstTiming best;
    best.conjugate = candidate.conjugate;
    best.training = candidate.training;
    for (int32_t offset = -turnsSearch; offset <= turnsSearch; ++offset) {
        for (int32_t phase = 0; phase < trainingPhases; ++phase) {
            const Iq* turns = reference.preambles[phase].signalTurns;
            // A = sum Re(wref) w and B = sum Im(wref) w; A - jB matches the reference's
            // levels, A + jB the reversed ones.
            Iq a;
            Iq b;
            float power = 0.0f;
            float referencePower = 0.0f;
            for (int32_t k = firstKnownSymbol + 1; k <= lastKnownSymbol; ++k) {
                const int32_t at = offset - (lastKnownSymbol - k) * samplesPerSymbol;
                const Iq w = timesConj(Iq{re[at], im[at]},
                                       Iq{re[at - samplesPerSymbol], im[at - samplesPerSymbol]});
                a = a + w * turns[k].re;
                b = b + w * turns[k].im;
                power += norm(w);
                referencePower += norm(turns[k]);
            }
            const float scale = power * referencePower;
            for (const bool conjugate : {false, true}) {
                const Iq match =
                    conjugate ? Iq{a.re - b.im, a.im + b.re} : Iq{a.re + b.im, a.im - b.re};
                const float strength = scale > 0.0f ? norm(match) / scale : 0.0f;
                if (strength > best.match) {
                    best.sample = candidate.instant + offset;
                    best.turnPerSymbol = std::atan2(match.im, match.re);
                    best.match = strength;
                    best.conjugate = conjugate;
                    best.training = phase;
                }
            }
        }
    }
    return best;
}

}  // namespace keelwave::ais
