#pragma once

#include "ais/frame_check.hpp"
#include "ais/frame_decoder.hpp"
#include "ais/sensitive/symbol_tracker.hpp"

#include <cstdint>

// From decided symbols to a checked frame, and the search over the least certain symbols when
// the first reading fails its check.
//
// Bit k of the burst is 1 when c_k = c_(k-2) (no level change under NRZI). From the first
// symbol after the start flag the bits are destuffed as the classic deframer does: after five
// 1s a 0 is dropped and a 1 is the end flag's sixth, which closes the frame; the flag's
// leading 0 and five 1s are not part of it. The end flag's closing 0 is not waited for: the
// frame is complete without it, and the FCS says whether it is intact.
//
// A wrong symbol c_k turns bits k and k + 2 over. When the check fails, the symbols with the
// smallest |Re(v_k)| are turned over, each on its own and then in pairs among the least sure,
// and every reading is checked again from the first symbol it changes (the destuffing state
// before each symbol is kept from the first reading). Every reading that reaches a check is a
// chance for noise to pass the 16-bit FCS (2^-16, times 27/64 for the identifier), so the
// search is kept small and counted.

namespace keelwave::ais {

/// Symbols turned over one at a time, and those among them turned over in pairs: 14 readings.
/// At 2 dB signal to noise, where most frames that fail have several wrong symbols, going on
/// to 10 singles and the pairs among the 6 least sure saved 1.5 % more messages but checked
/// 35 % more frames, each a chance for a false one.
constexpr int32_t singleFlips = 8;
constexpr int32_t pairedFlips = 4;
/// Readings the search tries at most: each single, then each pair.
constexpr int32_t flipTrials = singleFlips + pairedFlips * (pairedFlips - 1) / 2;

/// Where the first reading of a frame stands.
enum class FrameReading {
    needsSymbols,  ///< no end flag among the symbols decided so far
    failed,        ///< too long, or ended in a frame that failed its check
    passed,        ///< ended in a frame to print: payloadBits, messageBits, endSymbol
};

/// The deframer's state and buffers for one burst.
struct FrameSearch {
    uint8_t plainBits[frameBitCapacity];    ///< destuffed bits of the first reading
    uint8_t trialBits[frameBitCapacity];    ///< destuffed bits of the reading being tried
    uint8_t bytes[longestFrameBytes];       ///< checkFrame's packing buffer
    uint8_t payloadBits[frameBitCapacity];  ///< message bits of the frame that passed
    /// Destuffing state before each symbol of the first reading: bits stored, 1s in a row,
    /// and whether a stuffed 0 or the end flag comes next.
    int16_t storedBefore[burstSymbolCapacity + 1];
    uint8_t onesBefore[burstSymbolCapacity + 1];
    uint8_t stuffBefore[burstSymbolCapacity + 1];
    int32_t readUntil;             ///< symbols the first reading has gone through
    int32_t flips[flipTrials][2];  ///< symbols each trial turns over (-1: none)
    int32_t trials;                ///< trials prepared
    int32_t nextTrial;             ///< the trial to try next
    int32_t messageBits;           ///< of the frame that passed
    int32_t endSymbol;             ///< the end flag's sixth 1 (or where the first reading stopped)
    int64_t checks;  ///< frames of whole bytes checked so far, for the false-message budget
};

/// Starts the first reading of a new burst at the symbol after the start flag.
void startFrame(FrameSearch& search);

/// Carries the first reading on through the symbols decided since the last call.
FrameReading readFrame(FrameSearch& search, const SoftSymbols& symbols);

/// After a failed first reading: picks the least sure symbols it went through, among those
/// below `reliabilityLimit`, to be turned over singly and in pairs.
void startFlips(FrameSearch& search, const SoftSymbols& symbols, float reliabilityLimit);

/// Tries the prepared readings in turn. Stops with passed (payloadBits, messageBits,
/// endSymbol) at the first that passes, with needsSymbols when one runs past the symbols
/// decided so far (decide more and call again: it carries on with that one), or with failed.
/// The decisions are left as they were.
FrameReading searchFlips(FrameSearch& search, SoftSymbols& symbols);

}  // namespace keelwave::ais
