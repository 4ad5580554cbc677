#include "net/sentence_dispatch.hpp"

#include "ais/ais_decoder.hpp"
#include "app/logger.hpp"
#include "net/network_server.hpp"
#include "net/udp_connect.hpp"

#include <string>

namespace {
const char* const lineEnd = "\r\n";  // NMEA 0183 line terminator, on both network outputs
}

void dispatchSentence(void* context, const char* sentence) {
    if (context == nullptr) {
        return;
    }
    const AisDecoder& decoder = *static_cast<const AisDecoder*>(context);
    const std::string text(sentence);
    if (decoder.networkServer != nullptr) {
        decoder.networkServer->broadcast(text + lineEnd);
    }
    if (decoder.udpClient) {
        decoder.udpClient->send(text + lineEnd);
    }
    if (decoder.consoleOutput) {
        Logger::instance().log(Logger::INFO, text);
    }
}
