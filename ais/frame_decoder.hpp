#pragma once

#include "ais/frame_check.hpp"

#include <cstdint>

namespace keelwave::ais {

/// States of the HDLC deframer, one step per decoded bit.
constexpr uint32_t StateTraining = 1;   ///< Waiting for 15 alternations ending in a 0.
constexpr uint32_t StateStartFlag = 2;  ///< End of training, start flag up to its fifth 1.
constexpr uint32_t StateFlagTail = 3;   ///< The start flag's sixth 1 and its closing 0.
constexpr uint32_t StateData = 4;       ///< Data and FCS, stuffed zeros removed.
constexpr uint32_t StateEndFlag = 5;    ///< The end flag's closing 0, then the FCS check.

/// Receives the message bits of each good frame: `payloadBits[0..messageBits-1]`, each 0 or 1,
/// in message order. They are valid only during the call.
using FrameCallback = void (*)(void* context, const uint8_t* payloadBits, int32_t messageBits);

/// The per-channel HDLC deframer of the classic chain. Plain data: a value-initialised record
/// with its callback set is ready to use.
struct FrameDecoder {
    uint32_t state = StateTraining;  ///< One of the State* constants.
    uint32_t flagCount = 0;          ///< Start-flag bits seen (states 2 and 3).
    uint32_t onesRun = 0;            ///< Consecutive 1s in the data minus one (state 4).
    int32_t bitCount = 0;            ///< Entries stored in rawBits.
    uint8_t prevBit = 0;             ///< The previous decoded bit, in every state.
    uint32_t alternations = 0;       ///< Length of the current run of alternating bits (state 1).
    uint32_t stuffPending = 0;  ///< Set after five 1s in the data: next bit is stuffing or flag.
    uint8_t rawBits[frameBitCapacity] = {};      ///< Data, FCS, end-flag bits as received.
    uint8_t payloadBits[frameBitCapacity] = {};  ///< Message bits in message order.
    uint8_t frameBytes[longestFrameBytes] = {};  ///< checkFrame's packing buffer.
    FrameCallback frameCallback = nullptr;       ///< Receives each good frame; may be null.
    void* frameContext = nullptr;                ///< First argument of frameCallback.
    /// Where the caller took the bit being decoded, in its own sample count: set before each
    /// bit, so that a frame can be placed in the stream.
    int64_t bitSample = 0;
    int64_t flagEndSample = 0;  ///< bitSample of the current frame's start flag's last bit.
    uint64_t failedChecks = 0;  ///< Frames of whole bytes that failed their FCS, ever.
};

/// Runs one NRZI-decoded bit (0 = level change, 1 = no change) through the deframer. A good
/// frame is handed to the frame callback inside this call.
void decodeBit(FrameDecoder* decoder, uint8_t bit);

/// Drops the frame in progress and goes back to state 1. Keeps prevBit and the contents of
/// both bit arrays.
void resetFrame(FrameDecoder* decoder);

}  // namespace keelwave::ais
