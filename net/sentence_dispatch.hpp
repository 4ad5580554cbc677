#pragma once

#include <boost/shared_ptr.hpp>

namespace keelwave::net {

class NetworkServer;
class UdpConnect;

/// Where every finished sentence goes, in this order: the TCP clients, the UDP destination,
/// the log. The run sequence fills it in before the channel threads start; it does not change
/// while they run.
struct SentenceDispatch {
    NetworkServer* networkServer = nullptr;   ///< Not owned; null without a TCP server.
    boost::shared_ptr<UdpConnect> udpClient;  ///< Empty without a UDP destination.
    bool consoleOutput = true;                ///< Sentences are also logged.
};

/// The decoders' sentence callback; `context` is the SentenceDispatch. Hands the sentence,
/// with "\r\n", to the TCP clients and then to the UDP destination, and then logs it bare at
/// INFO, each only if there is that output. Runs on the channel threads, two at a time; never
/// waits for the network. A null context does nothing.
void dispatchSentence(void* context, const char* sentence);

}  // namespace keelwave::net
