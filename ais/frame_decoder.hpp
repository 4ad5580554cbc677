#pragma once

#include "ais/decoder_callbacks.hpp"

#include <cstdint>

namespace keelwave::ais {

/// Bits per frame buffer: one byte per bit, room for the longest accepted frame (448 stored
/// bits) plus slack.
constexpr int32_t frameBitCapacity = 450;
/// Bytes of the sentence text buffer; the longest sentence is 76 characters plus the NUL.
constexpr int32_t sentenceBufferSize = 100;

/// States of the HDLC deframer, one step per decoded bit.
constexpr uint32_t StateTraining = 1;   ///< Waiting for 15 alternations ending in a 0.
constexpr uint32_t StateStartFlag = 2;  ///< End of training, start flag up to its fifth 1.
constexpr uint32_t StateFlagTail = 3;   ///< The start flag's sixth 1 and its closing 0.
constexpr uint32_t StateData = 4;       ///< Data and FCS, stuffed zeros removed.
constexpr uint32_t StateEndFlag = 5;    ///< The end flag's closing 0, then the FCS check.

/// The per-channel HDLC deframer and the sentence encoder's state. Owned by the channel's
/// `AisReceiver`; created by `createFrameDecoder`, freed by `destroyFrameDecoder`.
struct FrameDecoder {
    char channel;           ///< 'A' or 'B'; written into every sentence.
    uint32_t state;         ///< One of the State* constants.
    uint32_t flagCount;     ///< Start-flag bits seen (states 2 and 3).
    uint32_t onesRun;       ///< Consecutive 1s in the data minus one (state 4).
    uint8_t* rawBits;       ///< frameBitCapacity entries: data, FCS, end-flag bits as received.
    uint8_t* payloadBits;   ///< frameBitCapacity entries: message bits in message order.
    int32_t bitCount;       ///< Entries stored in rawBits.
    uint8_t prevBit;        ///< The previous decoded bit, in every state.
    uint32_t alternations;  ///< Length of the current run of alternating bits (state 1).
    uint32_t stuffPending;  ///< Set after five 1s in the data: next bit is stuffing or flag.
    uint8_t sequenceId;     ///< Sequential message id 0..9 of multi-sentence messages.
    char* sentence;         ///< sentenceBufferSize chars: the sentence being handed out.
    SentenceCallback sentenceCallback;  ///< Receives each sentence; may be null.
    void* sentenceContext;              ///< First argument of sentenceCallback.
};

/// Allocates a decoder in state 1 with zeroed counters and its three buffers (contents left
/// uninitialised). Ends the process with status 1 when memory is exhausted.
FrameDecoder* createFrameDecoder(char channel, SentenceCallback sentenceCallback,
                                 void* sentenceContext);

/// Frees rawBits, payloadBits, sentence and then the decoder itself. Null is ignored.
void destroyFrameDecoder(FrameDecoder* decoder);

/// Runs one NRZI-decoded bit (0 = level change, 1 = no change) through the deframer. A good
/// frame is handed to `emitSentences`, whose callback runs inside this call.
void decodeBit(FrameDecoder* decoder, uint8_t bit);

/// Drops the frame in progress and goes back to state 1. Keeps prevBit, sequenceId and the
/// contents of both bit arrays.
void resetFrame(FrameDecoder* decoder);

}  // namespace keelwave::ais
