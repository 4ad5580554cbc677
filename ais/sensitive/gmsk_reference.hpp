#pragma once

#include "ais/sensitive/iq.hpp"

#include <cstdint>

// What the receiver knows of an AIS burst before it hears one: how GMSK with BT 0.4 looks
// through its matched filter, and the symbols of the training sequence and start flag.
//
// At 9600 bit/s and 48000 channel samples/s a symbol lasts 5 samples. GMSK with modulation
// index 1/2 turns the phase by +-pi/2 per bit, and Laurent's decomposition writes it as
// pulses C0(t - kT) carrying the pseudo-symbols b_k = j^k c_k, c_k = +-1, plus a remainder
// that holds about 1 % of the power. The levels a_k (+1 = frequency up) are c_k c_(k-1), and
// AIS sends its bits NRZI (a 0 changes the level), so bit k is 1 exactly when c_k = c_(k-2).
//
// The matched filter is C0 itself, real and symmetric about the end of its bit. Its output
// sampled there is, for a unit carrier at phase 0,
//   z_k = j^k (c_k - r2 (c_(k-2) + c_(k+2)) + j r1 (c_(k+1) - c_(k-1))),
// with r1 = 0.45 and r2 = 0.03 its correlation one and two symbols away (BT 0.4). With the
// carrier phase known, Re(z_k / j^k) decides c_k; the neighbours of the other quadrature leak
// only into the imaginary part. A transmitter whose levels are the other way round sends the
// conjugate: z_k = conj of the above.
//
// At symbol k's instant (the end of bit k) the phase is pi/2 times the sum over bits i of a_i
// times the share of its turn completed by then, which takes in bits k - 2 .. k + 2.

namespace keelwave::ais {

/// Channel samples per symbol: 48000 samples/s over 9600 bit/s.
constexpr int32_t samplesPerSymbol = 5;
/// Taps of the matched filter: C0 out to 1.4 symbols either side of its peak at every
/// fractional timing, which keeps 99.98 % of its energy.
constexpr int32_t matchedFilterTaps = 16;
/// Taps before the sampling instant; the rest lie at or after it.
constexpr int32_t matchedFilterLead = 7;
/// Taps after the sampling instant.
constexpr int32_t matchedFilterLag = matchedFilterTaps - matchedFilterLead - 1;
/// Sampling instants per sample interval the matched filter can be evaluated at: timing to
/// 1/40 of a symbol, which costs under 0.01 dB.
constexpr int32_t timingSteps = 8;
/// Symbols of the training sequence (alternating bits) and of the start flag (01111110).
constexpr int32_t trainingSymbols = 24;
constexpr int32_t flagSymbols = 8;
constexpr int32_t preambleSymbols = trainingSymbols + flagSymbols;
/// Preamble symbols whose matched-filter output is known exactly: those whose neighbours
/// within two symbols are preamble symbols too, or whose leak from an unknown one is below
/// r2 (the first one; the last two see the unknown first data symbols).
constexpr int32_t firstKnownSymbol = 1;
constexpr int32_t lastKnownSymbol = preambleSymbols - 2;
constexpr int32_t knownSymbols = lastKnownSymbol - firstKnownSymbol + 1;
/// The known symbols padded to a multiple of 8, for loops that work 8 floats at a time.
constexpr int32_t knownPadded = (knownSymbols + 7) / 8 * 8;

/// Phases of the training against the start flag: 0101...01 and then the flag, as most
/// transmitters send it, or 1010...10 (the alternation one bit on), as some do. The flag's
/// symbols, and so every symbol after it, are the same in both.
constexpr int32_t trainingPhases = 2;

/// Modulation indices the preamble is matched at: 0.34 to 0.76 in steps of 0.03, beyond the
/// 0.40 to 0.60 that transmitters passing type approval send (2400 Hz +- 20 %), so that the
/// best match of such a burst never lies on the grid's edge.
constexpr int32_t indexSteps = 15;
constexpr float lowestIndex = 0.34f;
constexpr float indexStep = 0.03f;
/// The index GMSK is specified with: +-pi/2 per bit.
constexpr float nominalIndex = 0.5f;

/// One training phase's preamble, as the receiver sees it for a unit carrier at phase 0.
struct PreambleReference {
    int8_t symbols[preambleSymbols];  ///< c_k, levels counted from +1 before the training
    int8_t levels[preambleSymbols];   ///< a_k = c_k c_(k-1): +1 = frequency up
    Iq outputs[preambleSymbols];      ///< z_k (exact for the known symbols)
    /// z_k for modulation index lowestIndex + i indexStep, in the form the index-aware reading
    /// models every burst with: z_k = sum over m of R(m) b_(k+m), R(0) = 1, R(+-1) = r1,
    /// R(+-2) = r2, b_k = e^(j pi h (a_0 + ... + a_k)); outside the preamble b is taken as 0.
    Iq indexOutputs[indexSteps][preambleSymbols];
    /// The same over the known symbols only, real and imaginary parts apart and padded with
    /// zeros to a whole number of vector lanes, for the sums that match every index at once.
    float knownRe[indexSteps][knownPadded];
    float knownIm[indexSteps][knownPadded];
    /// sum |z_k|^2 of indexOutputs over the known symbols, per index.
    float indexPowers[indexSteps];
    /// z_k conj(z_(k-1)): the turn from one output to the next, which a carrier frequency
    /// error only rotates. Entries from firstKnownSymbol + 1 are set.
    Iq turns[preambleSymbols];
    /// The same turns of the signal itself, before the matched filter: e^(j (phi_k -
    /// phi_(k-1))) with phi_k the carrier's phase at symbol k's instant.
    Iq signalTurns[preambleSymbols];
};

/// The receiver's model of the signal, computed once.
struct GmskReference {
    /// Matched filter for an instant `step / timingSteps` of a sample after sample n: tap i
    /// weighs sample n - matchedFilterLead + i. Scaled so that the pulse of one pseudo-symbol
    /// of a unit carrier gives 1.
    float matchedTaps[timingSteps][matchedFilterTaps];
    float neighbourLeak;  ///< r1: the other quadrature's neighbours in Im(z_k / j^k)
    float farLeak;        ///< r2: the pulse's correlation two symbols away
    /// The signal's turn over a bit of level +1, radians, by whether the bit before and the
    /// bit after have the same level: [before same][after same] (pi/2 in a long run).
    float levelTurns[2][2];
    PreambleReference preambles[trainingPhases];
};

/// j^k: the quarter turns of pseudo-symbol k.
inline Iq quarterTurns(int32_t k) {
    constexpr Iq turns[4] = {{1.0f, 0.0f}, {0.0f, 1.0f}, {-1.0f, 0.0f}, {0.0f, -1.0f}};
    return turns[k & 3];
}

/// Computes the pulse, the filter taps and the preamble's outputs.
void initGmskReference(GmskReference& reference);

/// Lanes of the matched filter's inner products: partial sums the compiler keeps in one vector
/// register, so the products need not be added in order.
constexpr int32_t matchedFilterLanes = 4;
static_assert(matchedFilterTaps % matchedFilterLanes == 0, "the filter runs in whole lanes");

/// The matched filter's output at `step` / timingSteps of a sample after sample `re[0]`,
/// `im[0]` (real and imaginary parts apart), which must have matchedFilterLead samples
/// before it and matchedFilterLag after.
inline Iq matchedOutput(const GmskReference& reference, const float* re, const float* im,
                        int32_t step) {
    const float* taps = reference.matchedTaps[step];
    const float* firstRe = re - matchedFilterLead;
    const float* firstIm = im - matchedFilterLead;
    float sumsRe[matchedFilterLanes] = {};
    float sumsIm[matchedFilterLanes] = {};
    for (int32_t i = 0; i < matchedFilterTaps; i += matchedFilterLanes) {
        for (int32_t j = 0; j < matchedFilterLanes; ++j) {
            sumsRe[j] += taps[i + j] * firstRe[i + j];
            sumsIm[j] += taps[i + j] * firstIm[i + j];
        }
    }
    Iq sum;
    for (int32_t j = 0; j < matchedFilterLanes; ++j) {
        sum.re += sumsRe[j];
        sum.im += sumsIm[j];
    }
    return sum;
}

/// Outputs matchedOutputs works out side by side, and the entries past `count` it may write.
constexpr int32_t matchedBatch = 8;
constexpr int32_t matchedBatchSlack = matchedBatch;

/// The matched filter's outputs at whole samples 0 .. count - 1 of `re`, `im` (which must reach
/// matchedFilterLead before and matchedFilterLag + matchedBatch past them), into `outputsRe`
/// and `outputsIm` (room for count + matchedBatchSlack).
void matchedOutputs(const GmskReference& reference, const float* re, const float* im, int32_t count,
                    float* outputsRe, float* outputsIm);

}  // namespace keelwave::ais
