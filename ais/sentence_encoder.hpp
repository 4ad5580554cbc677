#pragma once

#include <cstdint>

namespace keelwave::ais {

struct FrameDecoder;

/// Most message bits one frame can carry (448 stored bits less FCS and end flag).
constexpr int32_t maxMessageBits = 426;

/// Turns the `nb` message bits of one good frame (payloadBits[0..nb-1], each 0 or 1, in message
/// order; 1 <= nb <= maxMessageBits) into one or two "!AIVDM" sentences for the decoder's
/// channel. Each is built in decoder->sentence and handed to decoder->sentenceCallback (when not
/// null). decoder->sequenceId then advances, 9 wrapping to 0. Allocates nothing.
void emitSentences(FrameDecoder* decoder, const uint8_t* payloadBits, int32_t nb);

}  // namespace keelwave::ais
