#pragma once

#include "ais/sensitive/burst_sync.hpp"
#include "ais/sensitive/carrier_track.hpp"
#include "ais/sensitive/gmsk_reference.hpp"

#include <cstdint>

// Decides a burst's symbols one by one, following the carrier's phase and the transmitter's
// modulation index.
//
// Symbol k is the matched filter's output at the preamble's timing plus 5 (k - 30) samples:
// the bit clock of a transmitter 100 ppm off moves it by a twentieth of a sample over the
// longest frame, too little to follow. Through the filter, a burst of index h is close to
//   z_k = A (b_k + r1 (b_(k-1) + b_(k+1)) + r2 (b_(k-2) + b_(k+2))),
//   b_k = b_(k-1) e^(j (omega + pi h s a_k)),
// a_k = +-1 the level of bit k (s = -1 for a transmitter whose levels are the other way round).
// For h = 1/2 the b_k fall on four points and each symbol could be decided alone; for any other
// index the phase a symbol ends on depends on every level before it. So the levels are decided
// one at a time, each against what the levels already decided make: the three levels a_k,
// a_(k+1), a_(k+2) are tried in all eight ways against z_k and z_(k+1), and a_k is taken from
// the way that explains both best (the Gaussian metric Re(z conj(zhat)) - |zhat|^2 / 2). A wrong
// level is then most often a pair, a_k and a_(k+1) swapped, after which the phase is right
// again; that pair is the symbol c_k = a_k c_(k-1) turned over, which the frame search turns
// back. How sure a decision is comes from the metric's margin over the best way with the other
// a_k: (M - M_other) / 2A^2, about 1 for a clean symbol, as the old reading's |Re(v_k)| / A.
//
// The phase, frequency, drift and index follow a Kalman filter (carrier_track.hpp) fed with
// each symbol's phase error against the decided levels. Over the preamble the known levels
// stand in for the decisions, so the index and frequency the preamble left are refined before
// the first data symbol; the data's runs of equal levels go on refining them.

namespace keelwave::ais {

/// Symbols after the preamble that a frame may need: 448 destuffed bits (the frame store's
/// limit), one stuffed 0 for every five of them, and the end flag's last bit.
constexpr int32_t longestFrameSymbols = 540;
/// Symbols of the longest burst, from preamble symbol 0.
constexpr int32_t burstSymbolCapacity = preambleSymbols + longestFrameSymbols;
/// Symbols past the one being decided whose outputs the coherent reading weighs.
constexpr int32_t readingLookahead = 2;

/// A burst's decided symbols.
struct SoftSymbols {
    int32_t count = 0;                         ///< symbols decided, from preamble symbol 0
    int8_t decisions[burstSymbolCapacity];     ///< c_k, +1 or -1
    float reliabilities[burstSymbolCapacity];  ///< how sure each decision is, about 1 when clean
    float angles[burstSymbolCapacity];  ///< by levels: the angle of the turn decided on, radians
    /// Decided level by level (by turns): turning symbol k over then means reversing the level
    /// there, which turns every decision from k on over.
    bool byLevels = false;
};

/// How a burst's symbols are read.
enum class SymbolReading {
    /// Coherently for the index GMSK is specified with (1/2), where each symbol stands alone:
    /// v_k = z_k / j^k turned back by a phase-locked loop, c_k the sign of Re(v_k). The
    /// cheapest reading, and the surest for a transmitter that sends as specified.
    nominal,
    /// Coherently level by level against what the levels decided make, with the index, the
    /// frequency and its drift followed (above): for every other transmitter.
    byIndex,
    /// Level by level from the turns of the channel's own samples (trackTurns).
    byTurns,
};

/// The reading's state between symbols.
struct SymbolTracker {
    BurstTiming timing;
    SymbolReading reading;
    CarrierTrack carrier;  ///< byIndex: phase, frequency, drift and index
    /// nominal: e^(-j phase) for the next symbol; byIndex: e^(-j psi) of the phase state.
    Iq rotator;
    /// byIndex: matched-filter outputs of symbols aheadOf .. aheadOf + readingLookahead - 1,
    /// kept from one symbol to the next.
    Iq ahead[readingLookahead + 1];
    int32_t aheadOf;
    float amplitude;      ///< byIndex: A, tracked
    float noise;          ///< byIndex: variance of z / A about what the levels make, tracked
    float turnPerSymbol;  ///< nominal and byTurns: the loop's frequency, radians per symbol
    /// nominal: v of the last symbol, whose phase error is still to come; byTurns: the
    /// channel's sample one symbol back.
    Iq previous;
};

/// Starts a reading at the preamble's phase, frequency and index; the first symbol is symbol 0.
void startTracking(SymbolTracker& tracker, const BurstTiming& timing, SymbolReading reading);

/// Decides symbols symbols.count up to `end` (at most burstSymbolCapacity) the way the reading
/// was started. `re` and `im` hold the frequency-corrected channel samples, index 0 at
/// timing.sample, up to the filter's lag past symbol end - 1 + readingLookahead.
void trackSymbols(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                  const float* im, int32_t end, SoftSymbols& symbols);

/// The nominal reading of symbols.count up to `end`. A second-order phase-locked loop keeps
/// the phase: its error is Im(v_k) less the leak of the neighbours, times c_k, once c_(k+1) is
/// decided too (one symbol late). Over the preamble the known symbols stand in for the
/// decisions. The loop's noise bandwidth is about 170 Hz, enough to follow the frequency left
/// by the preamble's estimate, while its phase jitter at 2 dB signal to noise stays near 0.07
/// radians.
void trackNominal(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                  const float* im, int32_t end, SoftSymbols& symbols);

/// Decides symbols symbols.count up to `end` level by level from the turn of the channel's own
/// samples over each symbol (the phase change across each bit: +-pi h within a run of equal
/// levels, less where the level changes), which needs no carrier phase. Its frequency follows
/// the turns, each against the turn its level and neighbours make (GmskReference::levelTurns,
/// scaled to the preamble's index), one symbol late. This holds where the carrier's frequency
/// wanders faster than the loop follows: discriminator audio put back on a carrier (the Long
/// Beach recording) wanders by hundreds of Hz within a burst where the receiver that made it
/// blocked low audio frequencies. Its noise is the channel's, several dB more than the matched
/// filter's. The first call starts at symbol 0 (symbols.byLevels set).
void trackTurns(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                const float* im, int32_t end, SoftSymbols& symbols);

}  // namespace keelwave::ais
