#pragma once

#include "ais/ais_message.hpp"
#include "ais/decoder_callbacks.hpp"

#include <cstdint>

namespace keelwave::ais {

/// The end of every decoding chain: turns the message bits of a good frame into the record
/// that leaves the chain, with its "!AIVDM" sentences for the channel, and hands it to the
/// sink. One per channel: the sequential message id of two-sentence messages counts that
/// channel's messages. Allocates nothing.
class SentenceEncoder {
public:
    SentenceEncoder(char channel, ChainKind chain, MessageSink sink);

    /// Takes the `nb` message bits of one good frame (payloadBits[0..nb-1], each 0 or 1, in
    /// message order; 1 <= nb <= longestMessageBits) as one message received as `reception`
    /// says: builds its record and hands it to the sink (when it has a callback). The sequence
    /// id then advances, 9 wrapping to 0.
    void emit(const uint8_t* payloadBits, int32_t nb, const Reception& reception);

    char channel() const { return message.channel; }

private:
    /// Writes the sentences of the `nb` bits into `message`.
    void writeSentences(const uint8_t* payloadBits, int32_t nb);

    AisMessage message;  ///< rebuilt for each message; the sink sees it during its call
    uint8_t sequenceId = 0;
    MessageSink sink;
};

}  // namespace keelwave::ais
