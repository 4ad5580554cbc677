#include "ais/sensitive/burst_sync.hpp"

#include <algorithm>
#include <cmath>

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
/// Partial sums of the preamble's matches kept side by side: SSE2's registers hold four floats.
constexpr int32_t sumLanes = 4;
static_assert(knownPadded % sumLanes == 0, "the matches run in whole lanes");
/// Index grid entry of 0.5.
const int32_t nominalStep =
    static_cast<int32_t>(std::lround((nominalIndex - lowestIndex) / indexStep));

// The known preamble's matched-filter outputs z_k, the last of them at sample `last` plus
// `step`, real and imaginary parts apart.
struct PreambleOutputs {
    float re[knownPadded] = {};
    float im[knownPadded] = {};
    float power = 0.0f;  // sum |z_k|^2
};

// The matched filter's outputs (whole-sample timing) over every sample the timing search
// reaches: the known preamble's span and the search either side, entry 0 at the instant of
// the first known symbol less the search. Worked out side by side over consecutive samples,
// each at a fifth of the cost of one worked out alone, and shared by every timing tried.
constexpr int32_t searchedOutputs =
    (lastKnownSymbol - firstKnownSymbol) * samplesPerSymbol + 2 * timingSearch + 1;
constexpr int32_t searchedFirst = -(lastKnownSymbol - firstKnownSymbol) * samplesPerSymbol -
                                  timingSearch;  // sample of entry 0, from the instant

struct SearchedOutputs {
    float re[searchedOutputs + matchedBatchSlack];
    float im[searchedOutputs + matchedBatchSlack];
};

PreambleOutputs outputsAt(const SearchedOutputs& searched, int32_t last) {
    PreambleOutputs result;
    for (int32_t i = 0; i < knownSymbols; ++i) {
        const int32_t at =
            last - (lastKnownSymbol - firstKnownSymbol - i) * samplesPerSymbol - searchedFirst;
        result.re[i] = searched.re[at];
        result.im[i] = searched.im[at];
        result.power += result.re[i] * result.re[i] + result.im[i] * result.im[i];
    }
    return result;
}

PreambleOutputs preambleOutputs(const GmskReference& gmsk, const float* re, const float* im,
                                int32_t last, int32_t step) {
    PreambleOutputs result;
    for (int32_t i = 0; i < knownSymbols; ++i) {
        const int32_t at = last - (lastKnownSymbol - firstKnownSymbol - i) * samplesPerSymbol;
        const Iq z = matchedOutput(gmsk, re + at, im + at, step);
        result.re[i] = z.re;
        result.im[i] = z.im;
        result.power += norm(z);
    }
    return result;
}

// The carrier's turn per symbol over the training, by Luise and Reggiannini's estimator on
// p_k = z_k conj(zref_k) = A e^(j (phi + omega k)) of the nominal index.
float carrierTurn(const PreambleOutputs& outputs, const PreambleReference& preamble,
                  bool conjugate) {
    const float sign = conjugate ? -1.0f : 1.0f;
    Iq carrier[trainingKnown];
    for (int32_t i = 0; i < trainingKnown; ++i) {
        const Iq expected{preamble.knownRe[nominalStep][i],
                          sign * preamble.knownIm[nominalStep][i]};
        carrier[i] = timesConj(Iq{outputs.re[i], outputs.im[i]}, expected);
    }
    // sum over m = 1..10 of sum over i of p_i conj(p_(i-m)): each p_i against the sum of the
    // ten before it, kept as a running sum.
    Iq lagged;
    Iq window;
    for (int32_t i = 1; i < trainingKnown; ++i) {
        window = window + carrier[i - 1];
        if (i > frequencyLags) {
            window = window - carrier[i - 1 - frequencyLags];
        }
        lagged = lagged + timesConj(carrier[i], window);
    }
    return 2.0f * std::atan2(lagged.im, lagged.re) / (frequencyLags + 1);
}

// e^(-j omega (k - middleSymbol)) over the known symbols: what turns each output back to the
// middle symbol's phase.
struct TurnBack {
    float turnPerSymbol;
    Iq turns[knownSymbols];
};

TurnBack turnBackBy(float turnPerSymbol) {
    TurnBack result;
    result.turnPerSymbol = turnPerSymbol;
    const float start = -turnPerSymbol * (firstKnownSymbol - middleSymbol);
    Iq rotator{std::cos(start), std::sin(start)};
    const Iq step{std::cos(turnPerSymbol), -std::sin(turnPerSymbol)};
    for (Iq& turn : result.turns) {
        turn = rotator;
        rotator = rotator * step;
    }
    return result;
}

PreambleOutputs turnedBack(const PreambleOutputs& outputs, const TurnBack& back) {
    PreambleOutputs result;
    result.power = outputs.power;
    for (int32_t i = 0; i < knownSymbols; ++i) {
        const Iq turned = Iq{outputs.re[i], outputs.im[i]} * back.turns[i];
        result.re[i] = turned.re;
        result.im[i] = turned.im;
    }
    return result;
}

// How the turned-back outputs match one index's reference: the coherent sum
// sum of z_k conj(zref_k) (zref_k itself for reversed levels), and its share of the power.
struct PreambleMatch {
    Iq sum;  // its angle is the carrier's phase at middleSymbol
    float amplitude = 0.0f;
    float match = 0.0f;
};

PreambleMatch matchAt(const PreambleOutputs& turned, const PreambleReference& preamble,
                      int32_t step, bool conjugate) {
    // Four real sums over the padded symbols, each in lanes that the compiler keeps in one
    // vector register (a float sum in order could not be split so).
    const float* refRe = preamble.knownRe[step];
    const float* refIm = preamble.knownIm[step];
    float laneRr[sumLanes] = {};
    float laneIi[sumLanes] = {};
    float laneRi[sumLanes] = {};
    float laneIr[sumLanes] = {};
    for (int32_t i = 0; i < knownPadded; i += sumLanes) {
        for (int32_t j = 0; j < sumLanes; ++j) {
            laneRr[j] += turned.re[i + j] * refRe[i + j];
            laneIi[j] += turned.im[i + j] * refIm[i + j];
            laneRi[j] += turned.re[i + j] * refIm[i + j];
            laneIr[j] += turned.im[i + j] * refRe[i + j];
        }
    }
    float rr = 0.0f;
    float ii = 0.0f;
    float ri = 0.0f;
    float ir = 0.0f;
    for (int32_t j = 0; j < sumLanes; ++j) {
        rr += laneRr[j];
        ii += laneIi[j];
        ri += laneRi[j];
        ir += laneIr[j];
    }
    PreambleMatch result;
    result.sum = conjugate ? Iq{rr - ii, ir + ri} : Iq{rr + ii, ir - ri};
    const float sumPower = norm(result.sum);
    const float referencePower = preamble.indexPowers[step];
    result.amplitude = std::sqrt(sumPower) / referencePower;
    const float scale = turned.power * referencePower;
    result.match = scale > 0.0f ? sumPower / scale : 0.0f;
    return result;
}

// The index on the grid whose preamble matches the outputs best, refined between the grid's
// steps by a parabola through its neighbours, with that grid step's match, and the match at
// the nominal index.
struct IndexMatch {
    float turnPerSymbol = 0.0f;
    PreambleMatch match;
    float index = nominalIndex;
    int32_t step = 0;
    PreambleMatch nominal;
};

IndexMatch matchIndex(const PreambleReference& preamble, const PreambleOutputs& outputs,
                      bool conjugate) {
    // The frequency from the training, where the index hardly matters, serves every index.
    IndexMatch best;
    best.turnPerSymbol = carrierTurn(outputs, preamble, conjugate);
    const PreambleOutputs turned = turnedBack(outputs, turnBackBy(best.turnPerSymbol));
    float matches[indexSteps];
    for (int32_t i = 0; i < indexSteps; ++i) {
        const PreambleMatch match = matchAt(turned, preamble, i, conjugate);
        matches[i] = match.match;
        if (i == nominalStep) {
            best.nominal = match;
        }
        if (match.match > best.match.match) {
            best.match = match;
            best.step = i;
        }
    }
    float fraction = 0.0f;
    if (best.step > 0 && best.step < indexSteps - 1) {
        const float left = matches[best.step - 1];
        const float right = matches[best.step + 1];
        const float curvature = left - 2.0f * matches[best.step] + right;
        if (curvature < 0.0f) {
            fraction = 0.5f * (left - right) / curvature;
        }
    }
    best.index = lowestIndex + (static_cast<float>(best.step) + fraction) * indexStep;
    return best;
}

}  // namespace

BurstTiming synchroniseBurst(const GmskReference& reference, const float* re, const float* im,
                             const BurstCandidate& candidate) {
    // The index at the candidate's own timing serves the whole-sample timings around it: two
    // samples change it far less than its own error.
    const PreambleReference& preamble = reference.preambles[candidate.training];
    SearchedOutputs searched;
    matchedOutputs(reference, re + searchedFirst, im + searchedFirst, searchedOutputs, searched.re,
                   searched.im);
    const PreambleOutputs own = outputsAt(searched, 0);
    const IndexMatch first = matchIndex(preamble, own, candidate.conjugate);
    const TurnBack back = turnBackBy(first.turnPerSymbol);
    float matches[2 * timingSearch + 1];
    int32_t best = 0;
    for (int32_t i = 0; i <= 2 * timingSearch; ++i) {
        const int32_t offset = i - timingSearch;
        const PreambleOutputs outputs = offset == 0 ? own : outputsAt(searched, offset);
        matches[i] =
            matchAt(turnedBack(outputs, back), preamble, first.step, candidate.conjugate).match;
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
    const PreambleOutputs outputs =
        step == 0 ? outputsAt(searched, whole) : preambleOutputs(reference, re, im, whole, step);
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
    timing.turnPerSymbol = final.turnPerSymbol;
    timing.phase =
        std::atan2(final.match.sum.im, final.match.sum.re) - final.turnPerSymbol * middleSymbol;
    timing.amplitude = final.match.amplitude;
    // b_k = e^(j pi/2 (a_0 + ... + a_k)) is j^(k+1) c_k, or its conjugate for reversed levels.
    const float quarter = static_cast<float>(pi / 2.0) * (candidate.conjugate ? -1.0f : 1.0f);
    timing.nominalPhase = std::atan2(final.nominal.sum.im, final.nominal.sum.re) -
                          final.turnPerSymbol * middleSymbol + quarter;
    timing.nominalAmplitude = final.nominal.amplitude;
    timing.match = final.match.match;
    timing.index = final.index;
    timing.conjugate = candidate.conjugate;
    timing.training = training;
    return timing;
}

}  // namespace keelwave::ais
