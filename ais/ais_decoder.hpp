#pragma once

#include "ais/decoding_chain.hpp"
#include "ais/sdr_decoder.hpp"

#include <cstdint>

namespace keelwave::ais {

struct AisReceiver;

/// The decoder of one AIS channel: feeds discriminator blocks through its own receiver chain
/// (gain, filter, bit clock, deframer, sentence encoder). Every sentence goes to the sink it
/// was given; every level report to `reportLevel`, with this object as context.
class AisDecoder : public SdrDecoder {
public:
    /// Builds the receiver chain for `channel` ('A' or 'B'); `verbose` asks for level reports
    /// at most once a second. Ends the process with status 1 when memory runs out.
    AisDecoder(char channel, bool verbose, keelwave::ais::SentenceSink sink);
    /// Frees the receiver chain.
    ~AisDecoder() override;
    AisDecoder(const AisDecoder&) = delete;
    AisDecoder& operator=(const AisDecoder&) = delete;

    void process(const int16_t* samples, int32_t count) override;

    uint32_t frequency = 0;  ///< The channel's radio frequency in Hz; decoding never reads it.
    AisReceiver* receiver = nullptr;  ///< Owned.
    char channel;                     ///< 'A' or 'B'.
};

/// The decoders' level callback: logs "Channel A Level 47.6074 Gain 9.83" at INFO (numbers in
/// the streams' default notation). A null context logs nothing.
void reportLevel(void* context, int channel, float level, float gain);

}  // namespace keelwave::ais
