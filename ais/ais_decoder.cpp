#include "ais/ais_decoder.hpp"

#include "ais/ais_receiver.hpp"
#include "app/logger.hpp"
#include "net/sentence_dispatch.hpp"

#include <sstream>

AisDecoder::AisDecoder(char channelLetter, bool verbose)
    : receiver(
          createAisReceiver(channelLetter, verbose, &dispatchSentence, this, &reportLevel, this)),
      channel(channelLetter) {}

AisDecoder::~AisDecoder() {
    destroyAisReceiver(receiver);
    receiver = nullptr;
    udpClient.reset();
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
    Logger::instance().log(Logger::INFO, text.str());
}
