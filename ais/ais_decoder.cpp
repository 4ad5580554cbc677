#include "ais/ais_decoder.hpp"

#include "ais/ais_receiver.hpp"
#include "app/logger.hpp"

#include <sstream>

namespace keelwave::ais {

AisDecoder::AisDecoder(char channelLetter, bool verbose, keelwave::ais::SentenceSink sink)
    : receiver(createAisReceiver(channelLetter, verbose, sink.callback, sink.context, &reportLevel,
                                 this)),
      channel(channelLetter) {}

AisDecoder::~AisDecoder() {
    destroyAisReceiver(receiver);
    receiver = nullptr;
}

void AisDecoder::process(const int16_t* samples, int32_t count) {
    processSamples(receiver, samples, count);
}

void reportLevel(void* context, int channel, float level, float gain) {
    if (context == nullptr) {
        return;
    }
    std::ostringstream text;
    text << "Channel " << static_cast<char>(channel) << " Level " << level << " Gain " << gain;
    app::Logger::instance().log(app::Logger::INFO, text.str());
}

}  // namespace keelwave::ais
