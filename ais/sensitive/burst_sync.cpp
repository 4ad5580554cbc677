#include "ais/sensitive/burst_sync.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace keelwave::ais {

namespace {

/// Lags of the frequency estimator: about half the training's known symbols, which keeps it
/// near its best accuracy while it stays unambiguous over 1 / ((10 + 1) T) = 870 Hz.
constexpr int32_t frequencyLags = 10;
/// Known preamble symbol the phase is measured at before it is carried back to symbol 0: the
/// middle, where an error in the frequency moves it least.
constexpr int32_t middleSymbol = (firstKnownSymbol + lastKnownSymbol) / 2;
/// Known symbols of the training: its levels go ++-- whatever the index, so a wrong index only
/// wobbles their phase; the flag's run of seven equal levels turns it by 7 pi (h - 1/2).
constexpr int32_t trainingKnown = trainingSymbols - firstKnownSymbol;
/// Index grid entry of 0.5.
const int32_t nominalStep =
    static_cast<int32_t>(std::lround((nominalIndex - lowestIndex) / indexStep));

struct PreambleMatch {
    float turnPerSymbol = 0.0f;
    float phase = 0.0f;  // at middleSymbol
    float amplitude = 0.0f;
    float match = 0.0f;
};

// The known preamble's matched-filter outputs, the last of them at sample `last` plus `step`.
struct PreambleOutputs {
    Iq z[knownSymbols];
    float power = 0.0f;  // sum |z_k|^2
};

// The outputs times the conjugate reference: the carrier alone, p_k = A e^(j (phi + omega k)).
struct PreambleCarrier {
    Iq carrier[knownSymbols];
    float outputPower = 0.0f;     // sum |z_k|^2
    float referencePower = 0.0f;  // sum |zref_k|^2
};

PreambleOutputs preambleOutputs(const GmskReference& gmsk, const float* re, const float* im,
                                int32_t last, int32_t step) {
    PreambleOutputs result;
    for (int32_t i = 0; i < knownSymbols; ++i) {
        const int32_t at = last - (lastKnownSymbol - firstKnownSymbol - i) * samplesPerSymbol;
        result.z[i] = matchedOutput(gmsk, re + at, im + at, step);
        result.power += norm(result.z[i]);
    }
    return result;
}

PreambleCarrier preambleCarrier(const PreambleOutputs& outputs, const Iq* reference,
                                bool conjugate) {
    PreambleCarrier result;
    result.outputPower = outputs.power;
    for (int32_t i = 0; i < knownSymbols; ++i) {
        const Iq expected = reference[firstKnownSymbol + i];
        result.carrier[i] = timesConj(outputs.z[i], conjugate ? conj(expected) : expected);
        result.referencePower += norm(expected);
    }
    return result;
}

// The carrier's turn per symbol over the training, by Luise and Reggiannini's estimator.
float carrierTurn(const PreambleCarrier& preamble) {
    Iq lagged;
    for (int32_t m = 1; m <= frequencyLags; ++m) {
        for (int32_t i = m; i < trainingKnown; ++i) {
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

// The index on the grid whose preamble matches the outputs best, refined between the grid's
// steps by a parabola through its neighbours, with that grid step's match.
struct IndexMatch {
    PreambleMatch match;
    float index = nominalIndex;
};

IndexMatch matchIndex(const PreambleReference& preamble, const PreambleOutputs& outputs,
                      bool conjugate) {
    // The frequency from the training, where the index hardly matters, serves every index.
    const float turn = carrierTurn(
        preambleCarrier(outputs, preamble.indexOutputs[nominalStep], conjugate));
    float matches[indexSteps];
    IndexMatch best;
    int32_t bestStep = 0;
    for (int32_t i = 0; i < indexSteps; ++i) {
        const PreambleMatch match =
            coherentMatch(preambleCarrier(outputs, preamble.indexOutputs[i], conjugate), turn);
        matches[i] = match.match;
        if (match.match > best.match.match) {
            best.match = match;
            bestStep = i;
        }
    }
    float fraction = 0.0f;
    if (bestStep > 0 && bestStep < indexSteps - 1) {
        const float left = matches[bestStep - 1];
        const float right = matches[bestStep + 1];
        const float curvature = left - 2.0f * matches[bestStep] + right;
        if (curvature < 0.0f) {
            fraction = 0.5f * (left - right) / curvature;
        }
    }
    best.index = lowestIndex + (static_cast<float>(bestStep) + fraction) * indexStep;
    return best;
}

}  // namespace

BurstTiming synchroniseBurst(const GmskReference& reference, const float* re, const float* im,
                             const BurstCandidate& candidate) {
    // The index at the candidate's own timing serves the whole-sample timings around it: two
    // samples change it far less than its own error.
    const PreambleReference& preamble = reference.preambles[candidate.training];
    const IndexMatch first =
        matchIndex(preamble, preambleOutputs(reference, re, im, 0, 0), candidate.conjugate);
    const auto firstStep =
        std::clamp(static_cast<int32_t>(std::lround((first.index - lowestIndex) / indexStep)), 0,
                   indexSteps - 1);
    float matches[2 * timingSearch + 1];
    int32_t best = 0;
    for (int32_t i = 0; i <= 2 * timingSearch; ++i) {
        const int32_t offset = i - timingSearch;
        matches[i] = coherentMatch(preambleCarrier(preambleOutputs(reference, re, im, offset, 0),
                                                   preamble.indexOutputs[firstStep],
                                                   candidate.conjugate),
                                   first.match.turnPerSymbol)
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
    // At the timing found, the training's phase and the index that match best: at low signal
    // to noise the detector may have taken one phase for the other.
    const PreambleOutputs outputs = preambleOutputs(reference, re, im, whole, step);
    IndexMatch final;
    int32_t training = candidate.training;
    for (int32_t phase = 0; phase < trainingPhases; ++phase) {
        const IndexMatch match =
            matchIndex(reference.preambles[phase], outputs, candidate.conjugate);
        if (match.match.match > final.match.match) {
            final = match;
            training = phase;
        }
    }
    BurstTiming timing;
    timing.sample = candidate.instant + whole;
    timing.step = step;
    timing.turnPerSymbol = final.match.turnPerSymbol;
    timing.phase = final.match.phase - final.match.turnPerSymbol * middleSymbol;
    timing.amplitude = final.match.amplitude;
    timing.match = final.match.match;
    timing.index = final.index;
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
