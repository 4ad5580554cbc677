#include "ais/classic/ais_decoder.hpp"

namespace keelwave::ais {

AisDecoder::AisDecoder(char channel, bool verbose, MessageSink messages,
                       LevelCallback levelCallback, void* levelContext,
                       const BurstMeter* burstMeter)
    : encoder(channel, ChainKind::classic, messages), meter(burstMeter) {
    receiver.channel = channel;
    receiver.levelReports = verbose ? 1 : 0;
    receiver.levelCallback = levelCallback;
    receiver.levelContext = levelContext;
    receiver.frameDecoder.frameCallback = &AisDecoder::emitFrame;
    receiver.frameDecoder.frameContext = this;
}

void AisDecoder::process(const int16_t* samples, int32_t count) {
    processSamples(&receiver, samples, count);
}

void AisDecoder::restart() {
    resetFrame(&receiver.frameDecoder);
}

void AisDecoder::emitFrame(void* context, const uint8_t* payloadBits, int32_t messageBits) {
    auto& decoder = *static_cast<AisDecoder*>(context);
    const FrameDecoder& frame = decoder.receiver.frameDecoder;
    const Reception reception =
        decoder.meter != nullptr
            ? measureBurst(*decoder.meter, frame.flagEndSample, frame.bitSample)
            : Reception{};
    decoder.encoder.emit(payloadBits, messageBits, reception);
}

}  // namespace keelwave::ais
