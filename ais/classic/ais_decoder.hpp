#pragma once

#include "ais/classic/ais_receiver.hpp"
#include "ais/classic/burst_meter.hpp"
#include "ais/classic/discriminator_decoder.hpp"
#include "ais/decoder_callbacks.hpp"
#include "ais/sentence_encoder.hpp"

#include <cstdint>

namespace keelwave::ais {

/// The decoder of one AIS channel: feeds discriminator blocks through its own receiver
/// (gain, filter, bit clock, deframer) and its sentence encoder. Every message goes to the
/// sink it was given, measured by `meter` when there is one; every level report goes to
/// `levelCallback`.
class AisDecoder : public DiscriminatorDecoder {
public:
    /// The decoder of `channel` ('A' or 'B'); `verbose` asks for level reports at most once a
    /// second. `meter` holds what the demodulator recorded of the samples it is given.
    AisDecoder(char channel, bool verbose, MessageSink messages, LevelCallback levelCallback,
               void* levelContext, const BurstMeter* meter = nullptr);
    AisDecoder(const AisDecoder&) = delete;
    AisDecoder& operator=(const AisDecoder&) = delete;

    void process(const int16_t* samples, int32_t count) override;
    void restart() override;

    /// Frames of whole bytes that failed their FCS so far.
    uint64_t failedFrames() const { return receiver.frameDecoder.failedChecks; }

    uint32_t frequency = 0;  ///< The channel's radio frequency in Hz; decoding never reads it.

private:
    /// The frame decoder's callback: a good frame becomes a message.
    static void emitFrame(void* context, const uint8_t* payloadBits, int32_t messageBits);

    AisReceiver receiver;
    SentenceEncoder encoder;
    const BurstMeter* const meter;
};

}  // namespace keelwave::ais
