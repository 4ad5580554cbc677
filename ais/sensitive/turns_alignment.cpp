// The alignment of a burst's preamble on the turns of the channel's own samples
// (burst_sync.hpp), for bursts the coherent readings fail.
#include "ais/sensitive/burst_sync.hpp"

#include <cmath>
#include <initializer_list>

namespace keelwave::ais {

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
