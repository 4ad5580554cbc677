#include "ais/sensitive/symbol_tracker.hpp"

#include <algorithm>
#include <cmath>

namespace keelwave::ais {

namespace {

/// How sure the preamble leaves the carrier, as standard deviations: its phase and frequency
/// from 29 symbols near the noise, the drift unknown (300 Hz over a burst is 8e-4), the index
/// from the grid's parabola.
constexpr CarrierSpread preambleSpread = {0.3, 0.03, 0.0002, 0.04};
/// How far the carrier wanders per symbol beyond the model: oscillator phase noise, the
/// pulse's shape (BT 0.3 to 0.5 instead of 0.4) and the remainder of Laurent's decomposition.
constexpr CarrierWalk symbolWalk = {0.005, 0.00005};
/// Phase errors are clipped here: at low signal to noise a single noisy symbol must not throw
/// the filter by more than a fraction of a radian.
constexpr double largestPhaseError = 1.2;
/// Share of each symbol's residual that moves the amplitude and the noise estimates.
constexpr float amplitudeTracking = 0.02f;
constexpr float noiseTracking = 0.05f;
/// Noise variance (of z / A) below which the measurements are not trusted further: the
/// model's own error at high signal to noise.
constexpr float noiseFloor = 0.01f;
/// Levels tried at once: a_k, a_(k+1), a_(k+2).
constexpr int32_t lookahead = readingLookahead + 1;
constexpr int32_t ways = 1 << lookahead;
/// Share of the energy of a unit pseudo-symbol with its neighbours through the filter, for
/// the noise estimate at the start: mean |zref|^2 over the preamble is about 1.2.
constexpr float meanOutputPower = 1.2f;
/// Share of each turn's error that moves the frequency when deciding by turns: the estimate
/// follows a drift within some ten symbols.
constexpr float driftTracking = 0.1f;

inline Iq phasor(double angle) {
    return {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
}

// Ungerboeck's metric of a way: how well its pseudo-symbols explain the outputs u_k .. u_(k+2)
// (over A, turned back to b_(k-1)'s phase). The matched filter's noise is correlated between
// neighbours as its pulse is, so each output is weighed against its own pseudo-symbol only,
// less what the pseudo-symbols before it leak into it: the sum over m of
// Re(conj(b_m) (u_m - r1 b_(m-1) - r2 b_(m-2))). `back` is b_(k-2) / b_(k-1) from the levels
// decided; `up` and `down` are the turns e^(j (omega +- pi h s)) of a level +1 and -1.
float wayMetric(int32_t way, Iq up, Iq down, Iq back, const Iq* outputs, float leak,
                float farLeak) {
    Iq before2 = back;
    Iq before1{1.0f, 0.0f};
    float metric = 0.0f;
    for (int32_t i = 0; i < lookahead; ++i) {
        const Iq b = before1 * ((way >> i & 1) != 0 ? down : up);
        const Iq left = outputs[i] - before1 * leak - before2 * farLeak;
        metric += left.re * b.re + left.im * b.im;
        before2 = before1;
        before1 = b;
    }
    return metric;
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

void startTracking(SymbolTracker& tracker, const BurstTiming& timing) {
    tracker.timing = timing;
    // The filter starts at b_(-1), a symbol before the preamble's first.
    startCarrierTrack(tracker.carrier, timing.phase - timing.turnPerSymbol, timing.turnPerSymbol,
                      timing.index, preambleSpread);
    tracker.amplitude = timing.amplitude;
    const float match = std::max(timing.match, 0.05f);
    tracker.noise = std::max(noiseFloor, (1.0f / match - 1.0f) * meanOutputPower);
    tracker.turnPerSymbol = timing.turnPerSymbol;
    tracker.previous = Iq{};
}

void trackSymbols(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                  const float* im, int32_t end, SoftSymbols& symbols) {
    const BurstTiming& timing = tracker.timing;
    const PreambleReference& preamble = reference.preambles[timing.training];
    const int32_t sign = timing.conjugate ? -1 : 1;
    const float leak = reference.neighbourLeak;
    const float farLeak = reference.farLeak;
    for (int32_t k = symbols.count; k < end; ++k) {
        const int32_t at = (k - lastKnownSymbol) * samplesPerSymbol;
        const double* state = tracker.carrier.state;
        const Iq toUnit = phasor(-state[0]) * (1.0f / tracker.amplitude);
        Iq outputs[lookahead];
        for (int32_t i = 0; i < lookahead; ++i) {
            const int32_t from = at + i * samplesPerSymbol;
            outputs[i] = matchedOutput(reference, re + from, im + from, timing.step) * toUnit;
        }
        const double halfTurn = pi * state[3] * sign;
        const Iq up = phasor(state[1] + halfTurn);
        const Iq down = phasor(state[1] - halfTurn);
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
        float best[2] = {-1e30f, -1e30f};  // by a_k: +1, -1
        float bestMetric = -1e30f;
        int32_t bestWay = 0;
        for (int32_t way = 0; way < ways; ++way) {
            bool possible = true;
            for (int32_t i = 0; i < lookahead && k + i < preambleSymbols; ++i) {
                possible = possible && ((way >> i & 1) != 0) == (preamble.levels[k + i] < 0);
            }
            if (!possible) {
                continue;
            }
            const float metric = wayMetric(way, up, down, back, outputs, leak, farLeak);
            best[way & 1] = std::max(best[way & 1], metric);
            if (metric > bestMetric) {
                bestMetric = metric;
                bestWay = way;
            }
        }
        const int32_t level = (bestWay & 1) != 0 ? -1 : 1;
        const int8_t previous = k > 0 ? symbols.decisions[k - 1] : int8_t{1};
        symbols.decisions[k] = k < preambleSymbols ? preamble.symbols[k]
                                                   : static_cast<int8_t>(previous * level);
        symbols.reliabilities[k] = 0.5f * std::fabs(best[0] - best[1]);
        // The filter moves on by the level decided and learns from the symbol's phase error.
        advanceCarrier(tracker.carrier, sign * level, symbolWalk);
        const Iq expected = expectedOutput(bestWay, up, down, back, leak, farLeak);
        const Iq residual = outputs[0] - expected;
        const float expectedPower = norm(expected);
        if (k >= firstKnownSymbol) {
            const Iq error = timesConj(outputs[0], expected);
            const double phaseError =
                std::clamp(static_cast<double>(std::atan2(error.im, error.re)),
                           -largestPhaseError, largestPhaseError);
            correctCarrier(tracker.carrier, phaseError, tracker.noise / (2.0f * expectedPower));
            tracker.amplitude *= 1.0f + amplitudeTracking * (error.re / expectedPower - 1.0f);
            tracker.noise += noiseTracking * (norm(residual) - tracker.noise);
            tracker.noise = std::max(tracker.noise, noiseFloor);
        }
    }
    symbols.count = std::max(symbols.count, end);
}

void trackTurns(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                const float* im, int32_t end, SoftSymbols& symbols) {
    const BurstTiming& timing = tracker.timing;
    const float sign = timing.conjugate ? -1.0f : 1.0f;
    const float fraction = static_cast<float>(timing.step) / timingSteps;
    symbols.byLevels = true;
    for (int32_t k = symbols.count; k < end; ++k) {
        // The channel's own sample at the symbol's instant, between two samples.
        const int32_t at = (k - lastKnownSymbol) * samplesPerSymbol;
        const Iq y{re[at] + fraction * (re[at + 1] - re[at]),
                   im[at] + fraction * (im[at + 1] - im[at])};
        const float drift = tracker.turnPerSymbol;
        const Iq w = timesConj(y, tracker.previous) * Iq{std::cos(drift), -std::sin(drift)};
        tracker.previous = y;
        const float angle = sign * std::atan2(w.im, w.re);
        const int8_t before = k > 0 ? symbols.decisions[k - 1] : int8_t{1};
        symbols.decisions[k] = k < preambleSymbols
                                   ? reference.preambles[timing.training].symbols[k]
                                   : static_cast<int8_t>(angle < 0.0f ? -before : before);
        symbols.reliabilities[k] = std::fabs(std::sin(angle));
        symbols.angles[k] = angle;
        // The drift, from the turn one symbol back against what its level and neighbours make.
        if (k >= firstKnownSymbol + 3) {
            const int32_t levelBefore = symbols.decisions[k - 2] * symbols.decisions[k - 3];
            const int32_t level = symbols.decisions[k - 1] * symbols.decisions[k - 2];
            const int32_t levelAfter = symbols.decisions[k] * symbols.decisions[k - 1];
            const float expected = static_cast<float>(level) *
                                   reference.levelTurns[levelBefore == level][levelAfter == level];
            tracker.turnPerSymbol += sign * driftTracking * (symbols.angles[k - 1] - expected);
        }
    }
    symbols.count = std::max(symbols.count, end);
}

}  // namespace keelwave::ais
