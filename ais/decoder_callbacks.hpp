#pragma once

namespace keelwave::ais {

struct AisMessage;

/// Receives each message a chain decodes, on the chain's thread; the record is valid only
/// during the call.
using MessageCallback = void (*)(void* context, const AisMessage& message);

/// Where a chain's messages go: `callback(context, message)`. Given to a chain at
/// construction; a null callback drops the messages.
struct MessageSink {
    MessageCallback callback = nullptr;
    void* context = nullptr;
};

/// Receives a channel's level report: `channel` is the letter ('A' or 'B'), `level` and `gain`
/// as the chain measures them.
using LevelCallback = void (*)(void* context, int channel, float level, float gain);

}  // namespace keelwave::ais
