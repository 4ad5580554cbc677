#pragma once

#include "ais/sensitive/burst_detector.hpp"
#include "ais/sensitive/gmsk_reference.hpp"

#include <cstdint>

// Timing, frequency, phase and modulation index of one burst from its known preamble.
//
// The candidate's samples have been turned back by the detector's frequency estimate, which
// leaves a residual of up to a few hundred Hz at low signal to noise. The matched-filter
// outputs of the known preamble symbols are multiplied by the conjugate reference of an index
// h, p_k = z_k conj(zref_k(h)): for the right h what is left is the carrier,
// A e^(j (phi + omega k)). Its frequency comes from Luise and Reggiannini's estimator over the
// training, omega = 2 arg(sum over m = 1..10 of R(m)) / 11 with R(m) = sum p_k conj(p_(k-m)),
// close to the best possible over 21 symbols and unambiguous within +-870 Hz; the training's
// levels go ++--, so a wrong index only wobbles its phase, and one frequency serves every h.
// The start flag's seven equal levels then tell the indices apart: a wrong one turns their
// phase by 7 pi (h_true - h). The coherent sum of p_k over all 29 known symbols is taken for
// each index of a grid from 0.34 to 0.76, and a parabola through the best and its neighbours
// gives h; transmitters send 0.40 to 0.60.
//
// The index of the candidate's own timing serves the search over the whole-sample timings
// within two samples of it; the timing with the strongest match, refined by a parabola
// through its neighbours, gives the instant. The filter is then evaluated there, at 1/8 of a
// sample, for the final index, frequency, phase and amplitude, with the training's phase
// that matches better (near the noise the detector takes one for the other now and then),
// and the phase and amplitude the nominal index 1/2 gives, for the nominal reading.

namespace keelwave::ais {

/// Whole samples either side of the candidate's instant that the timing search tries.
constexpr int32_t timingSearch = 2;

/// What the preamble says about a burst.
struct BurstTiming {
    int64_t sample = 0;          ///< instant of the last known preamble symbol: this sample ...
    int32_t step = 0;            ///< ... plus step / timingSteps of a sample
    float turnPerSymbol = 0.0f;  ///< carrier frequency left, radians per symbol
    /// Carrier phase phi, radians, of the pseudo-symbols b_k = e^(j (phi + omega k + pi h s
    /// (a_0 + ... + a_k))), s = -1 for conjugate bursts
    float phase = 0.0f;
    float amplitude = 0.0f;      ///< carrier amplitude, in matched-filter output units
    float match = 0.0f;          ///< normalised match of the preamble, 0..1
    float index = nominalIndex;  ///< modulation index h the preamble matches best
    /// For the nominal reading: the phase of z_k / j^k at preamble symbol 0 (or of
    /// z_k / (-j)^k for reversed levels), radians, and the amplitude, both at index 1/2.
    float nominalPhase = 0.0f;
    float nominalAmplitude = 0.0f;
    bool conjugate = false;  ///< the transmitter's levels are the other way round
    int32_t training = 0;    ///< phase of its training (GmskReference::preambles)
};

/// Samples either side of the candidate's instant that alignTurns searches: two symbols (the
/// detector's peak has been seen that far off on a distorted preamble) and the timing search.
constexpr int32_t turnsSearch = 2 * samplesPerSymbol + timingSearch;

/// Synchronises to the candidate. `re` and `im` hold the frequency-corrected channel samples
/// with index 0 at the candidate's instant, reaching the preamble, the timing search and the
/// filter's lead before it and the timing search and the filter's lag after.
BurstTiming synchroniseBurst(const GmskReference& reference, const float* re, const float* im,
                             const BurstCandidate& candidate);

/// Aligns the preamble anew on the turns of the channel's own samples over each symbol, for a
/// burst that the coherent reading failed (its signal may not be GMSK as sent). Tries every
/// whole sample within turnsSearch of the candidate, both training phases and both level
/// polarities; the match is
/// the detector's, 0..1, and the frequency its angle. `re` and `im` as for synchroniseBurst,
/// reaching turnsSearch further either side.
BurstTiming alignTurns(const GmskReference& reference, const float* re, const float* im,
                       const BurstCandidate& candidate);

}  // namespace keelwave::ais
