#include "ais/sensitive/symbol_tracker.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace keelwave::ais {

namespace {

/// How sure the preamble leaves the carrier, as standard deviations: its phase and frequency
/// from 29 symbols near the noise, the index from the grid's parabola. The drift is unknown
/// (300 Hz over a burst is 8e-4), but a spread that wide would let the filter chase the noise
/// of the first symbols as drift: the phase a drift turns grows with the square of the time,
/// so the data teach it within a few dozen symbols from a narrower start (2e-4 read 6 % more
/// messages than 2e-3 at 4 dB and the index 0.40, and at 2 dB).
constexpr CarrierSpread preambleSpread = {0.3, 0.03, 0.0002, 0.04};
/// How far the carrier wanders per symbol beyond the model: oscillator phase noise, the
/// pulse's shape (BT 0.3 to 0.5 instead of 0.4) and the remainder of Laurent's decomposition.
/// Narrower walks read more near the noise (0.005 against 0.03 radians: 1.5 % more at 2 dB), at
/// the cost of a transmitter with much phase noise.
constexpr CarrierWalk symbolWalk = {0.005, 0.00005};
/// Phase errors are clipped here: at low signal to noise a single noisy symbol must not throw
/// the filter by more than a fraction of a radian.
constexpr double largestIndexedError = 1.2;
/// Share of each symbol's residual that moves the amplitude and the noise estimates.
constexpr float amplitudeTracking = 0.02f;
constexpr float noiseTracking = 0.05f;
/// Noise variance (of z / A) below which the measurements are not trusted further: the
/// model's own error at high signal to noise.
constexpr float noiseFloor = 0.01f;
/// Levels tried at once: a_k, a_(k+1), a_(k+2).
constexpr int32_t lookahead = readingLookahead + 1;
constexpr int32_t ways = 1 << lookahead;
/// The preamble's match the noise estimate is started from at the least: it is the share of
/// the outputs' power the preamble explains, and the noise the rest.
constexpr float lowestMatch = 0.05f;
/// Share of the energy of a unit pseudo-symbol with its neighbours through the filter, for
/// the noise estimate at the start: mean |zref|^2 over the preamble is about 1.2.
constexpr float meanOutputPower = 1.2f;

/// Terms of the series for sine and cosine of half an angle up to pi/2: their errors there
/// stay below 3e-5, and below 1e-4 after the doubling.
constexpr float inverseFactorials[] = {1.0f / 2.0f,     1.0f / 6.0f,     1.0f / 24.0f,
                                       1.0f / 120.0f,   1.0f / 720.0f,   1.0f / 5040.0f,
                                       1.0f / 40320.0f, 1.0f / 362880.0f};

// e^(j x) without the library's calls: x brought within +-pi, the series at x / 2, doubled.
Iq phasor(float x) {
    constexpr auto turn = static_cast<float>(2.0 * pi);
    x -= turn * std::nearbyint(x / turn);
    const float h = 0.5f * x;
    const float h2 = h * h;
    const float* f = inverseFactorials;
    const float c = 1.0f - h2 * (f[0] - h2 * (f[2] - h2 * (f[4] - h2 * f[6])));
    const float s = h * (1.0f - h2 * (f[1] - h2 * (f[3] - h2 * (f[5] - h2 * f[7]))));
    return {c * c - s * s, 2.0f * c * s};
}

// The angle of `v` within +-pi, to about 1e-4 radians: atan on the octant by its minimax
// polynomial, then the octant's symmetries.
float angleOf(Iq v) {
    const float ax = std::fabs(v.re);
    const float ay = std::fabs(v.im);
    const float big = std::max(ax, ay);
    if (!(big > 0.0f)) {
        return 0.0f;
    }
    const float t = std::min(ax, ay) / big;
    const float t2 = t * t;
    float angle =
        t * (0.99986f + t2 * (-0.33030f + t2 * (0.18014f + t2 * (-0.08513f + t2 * 0.02083f))));
    if (ay > ax) {
        angle = 0.5f * static_cast<float>(pi) - angle;
    }
    if (v.re < 0.0f) {
        angle = static_cast<float>(pi) - angle;
    }
    return v.im < 0.0f ? -angle : angle;
}

// Ungerboeck's metric of every way: how well its pseudo-symbols explain the outputs u_k ..
// u_(k+2) (over A, turned back to b_(k-1)'s phase). The matched filter's noise is correlated
// between neighbours as its pulse is, so each output is weighed against its own pseudo-symbol
// only, less what the pseudo-symbols before it leak into it: the sum over m of
// Re(conj(b_m) (u_m - r1 b_(m-1) - r2 b_(m-2))). The sum is built as a tree, each output's
// term once per way of the levels it depends on. `back` is b_(k-2) / b_(k-1) from the levels
// decided; `turns` are e^(j (omega +- pi h s)), the turn of a level +1 and -1. Way w has level
// a_(k+i) = -1 where bit i is set.
void wayMetrics(const Iq turns[2], Iq back, const Iq* outputs, float leak, float farLeak,
                float metrics[ways]) {
    const Iq one{1.0f, 0.0f};
    const auto weigh = [](Iq left, Iq b) { return left.re * b.re + left.im * b.im; };
    for (int32_t first = 0; first < 2; ++first) {
        const Iq b0 = turns[first];
        const float term0 = weigh(outputs[0] - one * leak - back * farLeak, b0);
        const Iq left1 = outputs[1] - b0 * leak - one * farLeak;
        for (int32_t second = 0; second < 2; ++second) {
            const Iq b1 = b0 * turns[second];
            const float term1 = term0 + weigh(left1, b1);
            const Iq left2 = outputs[2] - b1 * leak - b0 * farLeak;
            for (int32_t third = 0; third < 2; ++third) {
                metrics[first | second << 1 | third << 2] = term1 + weigh(left2, b1 * turns[third]);
            }
        }
    }
}

// The way of the levels that explains the outputs best among those the preamble allows (its
// own levels where the ways reach into it), and the best metric with a_k = +1 and with -1.
struct Choice {
    int32_t way = 0;
    float best[2] = {-std::numeric_limits<float>::infinity(),
                     -std::numeric_limits<float>::infinity()};
};

Choice chooseWay(const float metrics[ways], const PreambleReference& preamble, int32_t k) {
    Choice choice;
    float bestMetric = -std::numeric_limits<float>::infinity();
    for (int32_t way = 0; way < ways; ++way) {
        bool possible = true;
        for (int32_t i = 0; i < lookahead && k + i < preambleSymbols; ++i) {
            possible = possible && ((way >> i & 1) != 0) == (preamble.levels[k + i] < 0);
        }
        if (!possible) {
            continue;
        }
        choice.best[way & 1] = std::max(choice.best[way & 1], metrics[way]);
        if (metrics[way] > bestMetric) {
            bestMetric = metrics[way];
            choice.way = way;
        }
    }
    return choice;
}

// What the filter's output at symbol k is when the levels go as `way` says, relative to
// b_(k-1) and in units of A: the measurement the phase error is taken against.
Iq expectedOutput(int32_t way, Iq up, Iq down, Iq back, float leak, float farLeak) {
    const auto turn = [&](int32_t i) { return (way >> i & 1) != 0 ? down : up; };
    const Iq b0 = turn(0);
    const Iq b1 = b0 * turn(1);
    const Iq b2 = b1 * turn(2);
    return b0 + (Iq{1.0f, 0.0f} + b1) * leak + (back + b2) * farLeak;
}

}  // namespace

void startTracking(SymbolTracker& tracker, const BurstTiming& timing, SymbolReading reading) {
    tracker.timing = timing;
    tracker.reading = reading;
    tracker.turnPerSymbol = timing.turnPerSymbol;
    tracker.previous = Iq{};
    if (reading == SymbolReading::nominal) {
        tracker.rotator = conj(phasor(timing.nominalPhase));
        tracker.amplitude = timing.nominalAmplitude;
        return;
    }
    // The filter starts at b_(-1), a symbol before the preamble's first.
    startCarrierTrack(tracker.carrier, timing.phase - timing.turnPerSymbol, timing.turnPerSymbol,
                      timing.index, preambleSpread);
    tracker.amplitude = timing.amplitude;
    const float match = std::max(timing.match, lowestMatch);
    tracker.noise = std::max(noiseFloor, (1.0f / match - 1.0f) * meanOutputPower);
    tracker.rotator = conj(phasor(static_cast<float>(tracker.carrier.state[0])));
    tracker.aheadOf = -1;
}

void trackSymbols(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                  const float* im, int32_t end, SoftSymbols& symbols) {
    if (tracker.reading == SymbolReading::nominal) {
        trackNominal(tracker, reference, re, im, end, symbols);
        return;
    }
    if (tracker.reading == SymbolReading::byTurns) {
        trackTurns(tracker, reference, re, im, end, symbols);
        return;
    }
    const BurstTiming& timing = tracker.timing;
    const PreambleReference& preamble = reference.preambles[timing.training];
    const int32_t sign = timing.conjugate ? -1 : 1;
    const float leak = reference.neighbourLeak;
    const float farLeak = reference.farLeak;
    for (int32_t k = symbols.count; k < end; ++k) {
        // The outputs of symbols k .. k + 2: those of k and k + 1 kept from the symbol before.
        const int32_t at = (k - lastKnownSymbol) * samplesPerSymbol;
        const int32_t known = k > 0 && k == tracker.aheadOf ? readingLookahead : 0;
        for (int32_t i = known; i < lookahead; ++i) {
            const int32_t from = at + i * samplesPerSymbol;
            tracker.ahead[i] = matchedOutput(reference, re + from, im + from, timing.step);
        }
        const double* state = tracker.carrier.state;
        const Iq toUnit = tracker.rotator * (1.0f / tracker.amplitude);
        Iq outputs[lookahead];
        for (int32_t i = 0; i < lookahead; ++i) {
            outputs[i] = tracker.ahead[i] * toUnit;
        }
        for (int32_t i = 0; i < readingLookahead; ++i) {
            tracker.ahead[i] = tracker.ahead[i + 1];
        }
        tracker.aheadOf = k + 1;
        const auto halfTurn = static_cast<float>(pi * state[3] * sign);
        const auto turn = static_cast<float>(state[1]);
        const Iq up = phasor(turn + halfTurn);
        const Iq down = phasor(turn - halfTurn);
        // The level before; before the preamble the ramp's, which leaks in only through r2.
        const auto levelAt = [&](int32_t i) -> int32_t {
            if (i < 0) {
                return 1;
            }
            return i < preambleSymbols ? preamble.levels[i]
                                       : symbols.decisions[i] * symbols.decisions[i - 1];
        };
        const Iq back = conj(levelAt(k - 1) > 0 ? up : down);
        // Every way the three levels may go, those of the preamble held at what it sends.
        const Iq turns[2] = {up, down};
        float metrics[ways];
        wayMetrics(turns, back, outputs, leak, farLeak, metrics);
        const Choice choice = chooseWay(metrics, preamble, k);
        const int32_t bestWay = choice.way;
        const int32_t level = (bestWay & 1) != 0 ? -1 : 1;
        const int8_t previous = k > 0 ? symbols.decisions[k - 1] : int8_t{1};
        symbols.decisions[k] =
            k < preambleSymbols ? preamble.symbols[k] : static_cast<int8_t>(previous * level);
        symbols.reliabilities[k] = 0.5f * std::fabs(choice.best[0] - choice.best[1]);
        // The filter moves on by the level decided and learns from the symbol's phase error.
        advanceCarrier(tracker.carrier, sign * level, symbolWalk);
        tracker.rotator = tracker.rotator * conj(level > 0 ? up : down);
        const double predicted = tracker.carrier.state[0];
        const Iq expected = expectedOutput(bestWay, up, down, back, leak, farLeak);
        const Iq residual = outputs[0] - expected;
        const float expectedPower = norm(expected);
        if (k >= firstKnownSymbol) {
            const Iq error = timesConj(outputs[0], expected);
            const double phaseError = std::clamp(static_cast<double>(angleOf(error)),
                                                 -largestIndexedError, largestIndexedError);
            correctCarrier(tracker.carrier, phaseError, tracker.noise / (2.0f * expectedPower));
            tracker.rotator = tracker.rotator *
                              turnBack(static_cast<float>(tracker.carrier.state[0] - predicted));
            tracker.amplitude *= 1.0f + amplitudeTracking * (error.re / expectedPower - 1.0f);
            tracker.noise += noiseTracking * (norm(residual) - tracker.noise);
            tracker.noise = std::max(tracker.noise, noiseFloor);
        }
        // One Newton step towards magnitude 1 keeps the rotator from drifting in size.
        tracker.rotator = tracker.rotator * (1.5f - 0.5f * norm(tracker.rotator));
    }
    symbols.count = std::max(symbols.count, end);
}

}  // namespace keelwave::ais
