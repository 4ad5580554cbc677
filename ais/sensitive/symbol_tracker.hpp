#pragma once

#include "ais/sensitive/burst_sync.hpp"
#include "ais/sensitive/gmsk_reference.hpp"

#include <cstdint>

// Decides a burst's pseudo-symbols one by one, following the carrier's phase.
//
// Symbol k is the matched filter's output at the preamble's timing plus 5 (k - 30) samples:
// the bit clock of a transmitter 100 ppm off moves it by a twentieth of a sample over the
// longest frame, too little to follow. Turned back by j^k (or (-j)^k for reversed levels) and
// by the tracked phase, v_k = A (c_k + j s r1 (c_(k+1) - c_(k-1))), s = +-1 with the levels:
// the sign of Re(v_k) decides c_k and |Re(v_k)| / A is how sure that is.
//
// A second-order phase-locked loop keeps the phase: its error is Im(v_k) less the leak of the
// neighbours, times c_k, once c_(k+1) is decided too (one symbol late). Over the preamble the
// known symbols stand in for the decisions. The loop's noise bandwidth is about 170 Hz, enough
// to follow the frequency left by the preamble's estimate, while its phase jitter at 2 dB
// signal to noise stays near 0.07 radians.

namespace keelwave::ais {

/// Symbols after the preamble that a frame may need: 448 destuffed bits (the frame store's
/// limit), one stuffed 0 for every five of them, and the end flag's last bit.
constexpr int32_t longestFrameSymbols = 540;
/// Symbols of the longest burst, from preamble symbol 0.
constexpr int32_t burstSymbolCapacity = preambleSymbols + longestFrameSymbols;

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

/// The loop's state between symbols.
struct SymbolTracker {
    BurstTiming timing;
    Iq rotator;           ///< e^(-j phase) for the next symbol
    float turnPerSymbol;  ///< the loop's frequency, radians per symbol
    Iq previous;          ///< v of the last symbol, whose phase error is still to come
};

/// Starts the loop at the preamble's phase and frequency; the first symbol is symbol 0.
void startTracking(SymbolTracker& tracker, const BurstTiming& timing);

/// Decides symbols symbols.count up to `end` (at most burstSymbolCapacity). `re` and `im`
/// hold the frequency-corrected channel samples, index 0 at timing.sample.
void trackSymbols(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                  const float* im, int32_t end, SoftSymbols& symbols);

/// Decides symbols symbols.count up to `end` as trackSymbols does, but level by level from the
/// turn of the channel's own samples over each symbol (the phase change across each bit:
/// +-pi/2 within a run of equal levels, less where the level changes), which needs no carrier
/// phase. Its frequency follows the turns, each against the turn its level and neighbours make
/// (GmskReference::levelTurns), one symbol late. This holds where the carrier's frequency
/// wanders faster than the loop follows: discriminator audio put back on a carrier (the Long
/// Beach recording) wanders by hundreds of Hz within a burst where the receiver that made it
/// blocked low audio frequencies. Its noise is the channel's, several dB more than the matched
/// filter's. The first call starts at symbol 0 (symbols.byLevels set).
void trackTurns(SymbolTracker& tracker, const GmskReference& reference, const float* re,
                const float* im, int32_t end, SoftSymbols& symbols);

}  // namespace keelwave::ais
