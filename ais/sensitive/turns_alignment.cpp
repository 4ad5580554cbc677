// For bursts the coherent readings fail: the alignment of the preamble on the turns of the
// channel's own samples (burst_sync.hpp), and the reading by those turns (symbol_tracker.hpp).
#include "ais/sensitive/burst_sync.hpp"
#include "ais/sensitive/symbol_tracker.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace keelwave::ais {

namespace {

/// Frequency left by the detector's estimate beyond which an alignment is taken for the alias
/// of the other polarity, radians per symbol (2400 Hz): at an index well above 1/2 the
/// training's turns of one polarity turned by half a turn, pi - 1.16 s, come close to those of
/// the other at 1/2, 1.16, and at 0.73 match better than the turns as sent.
constexpr float largestAlignedTurn = static_cast<float>(pi / 2.0);
/// Share of each turn's residual that moves the drift: the estimate follows a carrier that
/// wanders within some ten symbols.
constexpr float driftTracking = 0.1f;
/// Share of each turn's residual that moves the turn its level and neighbours make: the
/// receiver that made the signal may have filtered it more than the transmitter did, which
/// shrinks a lone level's turn most.
constexpr float turnLearning = 0.05f;
/// Levels tried at once: a_k, a_(k+1), a_(k+2).
constexpr int32_t turnLevels = 3;
constexpr int32_t turnWays = 1 << turnLevels;

// x brought within +-pi.
float wrapped(float x) {
    constexpr auto turn = static_cast<float>(2.0 * pi);
    return x - turn * std::nearbyint(x / turn);
}

}  // namespace

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
                const float turn = std::atan2(match.im, match.re);
                if (strength > best.match && std::fabs(turn) < largestAlignedTurn) {
                    best.sample = candidate.instant + offset;
                    best.turnPerSymbol = turn;
                    best.match = strength;
                    best.conjugate = conjugate;
                    best.training = phase;
                }
            }
        }
    }
    return best;
}

void trackTurns(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                const float* im, int32_t end, SoftSymbols& symbols) {
    const BurstTiming& timing = tracker.timing;
    const float sign = timing.conjugate ? -1.0f : 1.0f;
    const float fraction = static_cast<float>(timing.step) / timingSteps;
    const int8_t* known = reference.preambles[timing.training].levels;
    symbols.byLevels = true;
    // The channel's own sample at symbol k's instant, between two samples.
    const auto sampleAt = [&](int32_t k) {
        const int32_t at = (k - lastKnownSymbol) * samplesPerSymbol;
        return Iq{re[at] + fraction * (re[at + 1] - re[at]),
                  im[at] + fraction * (im[at + 1] - im[at])};
    };
    // Level k, +-1: decided, the preamble's, or +1 before it (the ramp's).
    const auto levelAt = [&](int32_t k) -> int32_t {
        if (k < 0) {
            return 1;
        }
        return k < preambleSymbols ? known[k] : symbols.decisions[k] * symbols.decisions[k - 1];
    };
    float(&table)[2][2] = tracker.turnTable;
    if (symbols.count == 0) {  // the model's turns at the index 1/2; the burst teaches the rest
        for (int32_t before = 0; before < 2; ++before) {
            for (int32_t after = 0; after < 2; ++after) {
                table[before][after] = reference.levelTurns[before][after];
            }
        }
    }
    for (int32_t k = symbols.count; k < end; ++k) {
        // The turns over symbols k and k + 1, less the drift, in the levels' sense.
        const Iq before = sampleAt(k - 1);
        const Iq here = sampleAt(k);
        const Iq after = sampleAt(k + 1);
        const float drift = tracker.turnPerSymbol;
        const Iq back{std::cos(drift), -std::sin(drift)};
        const Iq turnHere = timesConj(here, before) * back;
        const Iq turnAfter = timesConj(after, here) * back;
        const float turns[2] = {sign * std::atan2(turnHere.im, turnHere.re),
                                sign * std::atan2(turnAfter.im, turnAfter.re)};
        // Every way the levels a_k .. a_(k+2) may go, those of the preamble held at what it
        // sends, against the turns they make with their neighbours: a lone level turns far less
        // than one within a run, which a decision by the turn's sign alone would not know.
        const int32_t last = levelAt(k - 1);
        float best[2] = {0.0f, 0.0f};  // least squared residual with a_k = +1, -1
        int32_t bestWays[2] = {-1, -1};
        for (int32_t way = 0; way < turnWays; ++way) {
            int32_t levels[turnLevels + 1] = {last};
            bool possible = true;
            for (int32_t i = 0; i < turnLevels; ++i) {
                levels[i + 1] = (way >> i & 1) != 0 ? -1 : 1;
                possible = possible && (k + i >= preambleSymbols || levels[i + 1] == known[k + i]);
            }
            if (!possible) {
                continue;
            }
            float metric = 0.0f;
            for (int32_t i = 0; i < 2; ++i) {
                const int32_t level = levels[i + 1];
                const float expected =
                    static_cast<float>(level) * table[levels[i] == level][levels[i + 2] == level];
                const float residual = wrapped(turns[i] - expected);
                metric += residual * residual;
            }
            const int32_t side = way & 1;
            if (bestWays[side] < 0 || metric < best[side]) {
                best[side] = metric;
                bestWays[side] = way;
            }
        }
        // Within the preamble one side is ruled out: its margin is then the largest there is.
        const bool up = bestWays[1] < 0 || (bestWays[0] >= 0 && best[0] <= best[1]);
        const int32_t bestWay = bestWays[up ? 0 : 1];
        const float margin = bestWays[0] < 0 || bestWays[1] < 0 ? static_cast<float>(4.0 * pi * pi)
                                                                : std::fabs(best[0] - best[1]);
        const int32_t level = (bestWay & 1) != 0 ? -1 : 1;
        const int32_t next = (bestWay & 2) != 0 ? -1 : 1;
        const int8_t previous = k > 0 ? symbols.decisions[k - 1] : int8_t{1};
        symbols.decisions[k] = k < preambleSymbols ? reference.preambles[timing.training].symbols[k]
                                                   : static_cast<int8_t>(previous * level);
        // How sure: the margin over the other level, against that of a run's level over a lone
        // one's.
        const float separation = table[1][1] + table[0][0];
        symbols.reliabilities[k] = std::sqrt(margin) / std::max(separation, 1e-3f);
        // The drift and the turn of this context learn from the residual of the turn decided.
        if (k > firstKnownSymbol) {
            float& entry = table[last == level][next == level];
            const float residual = wrapped(turns[0] - static_cast<float>(level) * entry);
            tracker.turnPerSymbol += sign * driftTracking * residual;
            entry = std::clamp(entry + turnLearning * static_cast<float>(level) * residual, 0.0f,
                               static_cast<float>(pi));
        }
    }
    symbols.count = std::max(symbols.count, end);
}

}  // namespace keelwave::ais
