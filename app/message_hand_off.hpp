#pragma once

#include "ais/ais_message.hpp"
#include "ais/decoder_callbacks.hpp"
#include "format/message_format.hpp"
#include "net/line_output.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace keelwave::app {

/// The road of every message from the channel threads to the outputs, which live on the I/O
/// thread. A channel thread only copies the record into a ring and goes back to its samples:
///
///   channel threads                         I/O thread (the event loop)
///   submit: copy into the ring (lock)       drain: for each message in turn, and each
///     ├ full, tuner: drop it, count it        destination in order, its lines in the
///     ├ full, recording: wait for room        destination's format, delivered; while a
///     └ first one waiting: post drain ──────► destination is not ready (the log of a
///                                              recording) the message waits, looked at again
///                                              every 10 ms, and the ring fills behind it
///
/// No output work, and no lock an output takes, ever runs on a channel thread.
class MessageHandOff {
public:
    /// Room for `capacity` messages; with `waitForRoom` (a recording) a channel waits for room
    /// instead of dropping.
    MessageHandOff(boost::asio::io_context& io, std::size_t capacity, bool waitForRoom);
    MessageHandOff(const MessageHandOff&) = delete;
    MessageHandOff& operator=(const MessageHandOff&) = delete;

    /// Adds a destination after those added before: each message reaches them in that order.
    /// Both must outlive the hand-off's use. Before the channels start.
    void addDestination(format::MessageFormat& format, net::LineOutput& output);

    /// What the chains hand their messages to.
    ais::MessageSink sink() { return {&MessageHandOff::submitMessage, this}; }

    /// The chains' level callback (`context` is the hand-off): logs "Channel A Level 47.6074
    /// Gain 9.83" at INFO from the I/O thread, the numbers in the streams' default notation. A
    /// null context logs nothing.
    static void reportLevel(void* context, int channel, float level, float gain);

    /// Messages dropped because the ring was full, of every channel or of `channel`. Any
    /// thread.
    uint64_t droppedMessages() const { return dropped[0] + dropped[1]; }
    uint64_t droppedMessages(char channel) const { return dropped[channel == 'B' ? 1 : 0]; }

    /// Shows `observer` every message as it is delivered (I/O thread). Before the channels
    /// start.
    void observe(std::function<void(const ais::AisMessage&)> observer) {
        watcher = std::move(observer);
    }

    /// True once every message handed over has reached every destination (I/O thread).
    bool idle();

    /// The run is stopping: nobody waits for room any more; messages that find the ring full
    /// are dropped. Any thread.
    void halt();

private:
    struct Destination {
        format::MessageFormat* format;
        net::LineOutput* output;
        net::MessageLines lines;  ///< the message in hand in this format (I/O thread)
    };

    static void submitMessage(void* context, const ais::AisMessage& message);
    void submit(const ais::AisMessage& message);
    /// Delivers what waits, in order (I/O thread).
    void drain();
    /// Formats the message in hand for every destination; false if one is not ready for it.
    bool prepare();

    static constexpr auto holdBackRetry = std::chrono::milliseconds(10);
    static constexpr std::size_t drainBatch = 64;  ///< messages delivered per turn of the loop

    boost::asio::io_context& io;
    const bool waitForRoom;
    std::vector<Destination> destinations;
    boost::asio::steady_timer retry;
    ais::AisMessage inHand;  ///< the oldest message, being delivered (I/O thread)

    std::mutex lock;  ///< guards the ring and the flags below it
    std::condition_variable room;
    std::vector<ais::AisMessage> ring;
    std::size_t first = 0;
    std::size_t count = 0;
    bool drainPosted = false;  ///< a drain is posted or running and will see what is queued
    bool halted = false;
    std::atomic<uint64_t> dropped[2] = {0, 0};  ///< of channel A, of channel B
    std::function<void(const ais::AisMessage&)> watcher;
};

}  // namespace keelwave::app
