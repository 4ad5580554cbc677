// The readings of a burst that assume its modulation: the nominal coherent one and the one by
// turns (symbol_tracker.hpp).
#include "ais/sensitive/symbol_tracker.hpp"

#include <algorithm>
#include <cmath>

namespace keelwave::ais {

namespace {

/// Loop gains per symbol: proportional (phase) and integral (frequency). Damping
/// 0.05 / (2 sqrt(0.001)) = 0.79, natural frequency sqrt(0.001) = 0.032 radians per symbol.
constexpr float phaseGain = 0.05f;
constexpr float frequencyGain = 0.001f;
/// Phase errors are clipped here: at low signal to noise a single noisy symbol must not throw
/// the loop by more than a fraction of a radian.
constexpr float largestPhaseError = 1.0f;
/// Share of each turn's error that moves the frequency when deciding by turns: the estimate
/// follows a drift within some ten symbols.
constexpr float driftTracking = 0.1f;

}  // namespace

void trackNominal(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                  const float* im, int32_t end, SoftSymbols& symbols) {
    const BurstTiming& timing = tracker.timing;
    const float amplitude = tracker.amplitude;
    const float perAmplitude = 1.0f / amplitude;  // a multiplication waits less than a division
    const float leak = timing.conjugate ? -reference.neighbourLeak : reference.neighbourLeak;
    for (int32_t k = symbols.count; k < end; ++k) {
        const int32_t at = (k - lastKnownSymbol) * samplesPerSymbol;
        const Iq z = matchedOutput(reference, re + at, im + at, timing.step);
        const Iq turns = timing.conjugate ? conj(quarterTurns(k)) : quarterTurns(k);
        const Iq v = timesConj(z, turns) * tracker.rotator;
        const float soft = v.re * perAmplitude;
        const int8_t decision = k < preambleSymbols
                                    ? reference.preambles[timing.training].symbols[k]
                                    : static_cast<int8_t>(soft < 0.0f ? -1 : 1);
        symbols.decisions[k] = decision;
        symbols.reliabilities[k] = std::fabs(soft);
        float error = 0.0f;
        if (k >= 2) {
            const float neighbours =
                leak * amplitude * static_cast<float>(decision - symbols.decisions[k - 2]);
            error = (tracker.previous.im - neighbours) * symbols.decisions[k - 1] * perAmplitude;
            error = std::clamp(error, -largestPhaseError, largestPhaseError);
        }
        tracker.previous = v;
        tracker.rotator = tracker.rotator * turnBack(tracker.turnPerSymbol + phaseGain * error);
        tracker.turnPerSymbol += frequencyGain * error;
        // One Newton step towards magnitude 1 keeps the rotator from drifting in size.
        tracker.rotator = tracker.rotator * (1.5f - 0.5f * norm(tracker.rotator));
    }
    symbols.count = std::max(symbols.count, end);
}

void trackTurns(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                const float* im, int32_t end, SoftSymbols& symbols) {
    const BurstTiming& timing = tracker.timing;
    const float sign = timing.conjugate ? -1.0f : 1.0f;
    const float fraction = static_cast<float>(timing.step) / timingSteps;
    const float indexScale = timing.index / nominalIndex;
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
            const float expected = static_cast<float>(level) * indexScale *
                                   reference.levelTurns[levelBefore == level][levelAfter == level];
            tracker.turnPerSymbol += sign * driftTracking * (symbols.angles[k - 1] - expected);
        }
    }
    symbols.count = std::max(symbols.count, end);
}

}  // namespace keelwave::ais
