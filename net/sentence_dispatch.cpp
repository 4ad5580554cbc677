#include "net/sentence_dispatch.hpp"

#include "app/logger.hpp"
#include "net/network_server.hpp"
#include "net/udp_connect.hpp"

#include <string>

namespace keelwave::net {

namespace {
const char* const lineEnd = "\r\n";  // NMEA 0183 line terminator, on both network outputs
}

void dispatchSentence(void* context, const char* sentence) {
    if (context == nullptr) {
        return;
    }
    const SentenceDispatch& outputs = *static_cast<const SentenceDispatch*>(context);
    const std::string text(sentence);
    if (outputs.networkServer != nullptr) {
        outputs.networkServer->broadcast(text + lineEnd);
    }
    if (outputs.udpClient) {
        outputs.udpClient->send(text + lineEnd);
    }
    if (outputs.consoleOutput) {
        app::Logger::instance().log(app::Logger::INFO, text);
    }
}

}  // namespace keelwave::net
