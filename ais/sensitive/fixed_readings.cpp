// The nominal coherent reading of a burst (symbol_tracker.hpp).
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
/// Symbols whose matched-filter outputs the nominal reading works out before it follows them.
constexpr int32_t nominalRun = 32;

// e^(-j x) for the loop's corrections, |x| at most phaseGain * largestPhaseError = 0.05
// radians: to x^3, within 3e-7.
Iq smallTurnBack(float x) {
    const float x2 = x * x;
    return {1.0f - 0.5f * x2, -x * (1.0f - x2 * (1.0f / 6.0f))};
}

}  // namespace

namespace {

[[gnu::always_inline]] inline void followNominal(SymbolTracker& tracker,
                                                 const GmskReference& reference, const float* re,
                                                 const float* im, int32_t end,
                                                 SoftSymbols& symbols) {
    const BurstTiming& timing = tracker.timing;
    const float perAmplitude = 1.0f / tracker.amplitude;  // a multiplication waits less
    const float leak = timing.conjugate ? -reference.neighbourLeak : reference.neighbourLeak;
    const int8_t* known = reference.preambles[timing.training].symbols;
    Iq rotator = tracker.rotator;
    float turn = tracker.turnPerSymbol;
    Iq previous = tracker.previous;
    // c_(k-1) and c_(k-2), as numbers.
    float before = symbols.count >= 1 ? symbols.decisions[symbols.count - 1] : 1.0f;
    float twoBefore = symbols.count >= 2 ? symbols.decisions[symbols.count - 2] : 1.0f;
    for (int32_t first = symbols.count; first < end; first += nominalRun) {
        const int32_t last = std::min(end, first + nominalRun);
        // The outputs of the run first, z_k / j^k: they do not wait on the loop.
        Iq outputs[nominalRun];
        for (int32_t k = first; k < last; ++k) {
            const int32_t at = (k - lastKnownSymbol) * samplesPerSymbol;
            const Iq z = matchedOutput(reference, re + at, im + at, timing.step);
            outputs[k - first] =
                timesConj(z, timing.conjugate ? conj(quarterTurns(k)) : quarterTurns(k));
        }
        // One Newton step towards magnitude 1 a run keeps the rotator from drifting in size.
        rotator = rotator * (1.5f - 0.5f * norm(rotator));
        for (int32_t k = first; k < last; ++k) {
            // The phase error of symbol k - 1, (Im(v_(k-1)) / A - r1 (c_k - c_(k-2))) c_(k-1),
            // and the next rotator, for either c_k: all that the decision on v_k leaves to do is
            // to choose between them, so that one symbol waits on the last only for v_k and the
            // choice.
            const float common = (previous.im * perAmplitude + leak * twoBefore) * before;
            const float started = k >= 2 ? 1.0f : 0.0f;  // the loop waits for two symbols
            const float errorUp =                        // c_k = +1
                started *
                std::min(std::max(common - leak * before, -largestPhaseError), largestPhaseError);
            const float errorDown =
                started *
                std::min(std::max(common + leak * before, -largestPhaseError), largestPhaseError);
            const Iq ahead = rotator * turnBack(turn);
            const Iq nextUp = ahead * smallTurnBack(phaseGain * errorUp);
            const Iq nextDown = ahead * smallTurnBack(phaseGain * errorDown);
            const Iq v = outputs[k - first] * rotator;
            const float soft = v.re * perAmplitude;
            // Without a branch, which a data symbol would mispredict every other time.
            const float decision =
                k < preambleSymbols ? static_cast<float>(known[k]) : std::copysign(1.0f, soft);
            symbols.decisions[k] = static_cast<int8_t>(decision);
            symbols.reliabilities[k] = std::fabs(soft);
            const float up = 0.5f + 0.5f * decision;  // 1 for c_k = +1, 0 for -1
            const float error = errorDown + up * (errorUp - errorDown);
            previous = v;
            twoBefore = before;
            before = decision;
            rotator = nextDown + (nextUp - nextDown) * up;
            turn += frequencyGain * error;
        }
    }
    tracker.rotator = rotator;
    tracker.turnPerSymbol = turn;
    tracker.previous = previous;
    symbols.count = std::max(symbols.count, end);
}

#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] void followNominalWide(SymbolTracker& tracker,
                                                   const GmskReference& reference, const float* re,
                                                   const float* im, int32_t end,
                                                   SoftSymbols& symbols) {
    followNominal(tracker, reference, re, im, end, symbols);
}
#endif

}  // namespace

void trackNominal(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                  const float* im, int32_t end, SoftSymbols& symbols) {
#if defined(__x86_64__)
    if (tracker.wide) {
        followNominalWide(tracker, reference, re, im, end, symbols);
        return;
    }
#endif
    followNominal(tracker, reference, re, im, end, symbols);
}

}  // namespace keelwave::ais
