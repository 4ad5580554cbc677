#pragma once

#include "ais/decoder_callbacks.hpp"

#include <cstdint>

namespace keelwave::ais {

/// Where a chain's finished sentences go: `callback(context, sentence)` on the chain's thread,
/// once per sentence (NUL-terminated, no line end, valid only during the call). Given to a
/// chain at construction; a null callback drops the sentences.
struct SentenceSink {
    SentenceCallback callback = nullptr;
    void* context = nullptr;
};

/// One AIS channel's decoding chain: raw tuner blocks in, sentences out through the sink it was
/// built with. The channel threads drive every chain alike; a chain keeps its whole state from
/// one block to the next, so the blocks of one stream decode as one continuous signal.
class DecodingChain {
public:
    virtual ~DecodingChain() = default;

    /// `count` floats of the tuner's stream, I and Q alternating, I first, each an unsigned
    /// tuner byte minus 128: 288000 pairs per second centred on 162000000 Hz. An odd last float
    /// is ignored. Runs on the channel's thread; allocates nothing.
    virtual void processBlock(const float* samples, uint32_t count) = 0;

    /// The input has ended for good (a recording): decodes whatever the chain still holds back.
    virtual void finish() = 0;
};

}  // namespace keelwave::ais
