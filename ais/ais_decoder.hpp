#pragma once

#include "ais/sdr_decoder.hpp"

#include <boost/shared_ptr.hpp>

#include <cstdint>

struct AisReceiver;
class NetworkServer;
class UdpConnect;

/// The decoder of one AIS channel: feeds discriminator blocks through its own receiver chain
/// (gain, filter, bit clock, deframer, sentence encoder). Every sentence goes to
/// `dispatchSentence` and every level report to `reportLevel`, both with this object as
/// context. The run sequence fills in the output fields before the channel thread starts;
/// they do not change while it runs.
class AisDecoder : public SdrDecoder {
public:
    /// Builds the receiver chain for `channel` ('A' or 'B'); `verbose` asks for level
    /// reports at most once a second. Ends the process with status 1 when memory runs out.
    AisDecoder(char channel, bool verbose);
    /// Frees the receiver chain and gives up this decoder's share of the UDP client.
    ~AisDecoder() override;
    AisDecoder(const AisDecoder&) = delete;
    AisDecoder& operator=(const AisDecoder&) = delete;

    void process(const int16_t* samples, int32_t count) override;

    uint32_t frequency = 0;  ///< The channel's radio frequency in Hz; decoding never reads it.
    AisReceiver* receiver = nullptr;          ///< Owned.
    char channel;                             ///< 'A' or 'B'.
    NetworkServer* networkServer = nullptr;   ///< Not owned; null without a TCP server.
    boost::shared_ptr<UdpConnect> udpClient;  ///< Empty without a UDP destination.
    bool consoleOutput = true;                ///< Sentences are also logged.
};

/// The decoders' level callback: logs "Channel A Level 47.6074 Gain 9.83" at INFO (numbers in
/// the streams' default notation). A null context logs nothing.
void reportLevel(void* context, int channel, float level, float gain);
