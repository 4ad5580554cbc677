#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keelwave::net {

/// The lines one message becomes in an output's format, in order, without line ends.
using MessageLines = std::vector<std::string>;

/// What a message is, for an output that files each message by it (an MQTT topic).
struct MessageKeys {
    char channel = 'A';  ///< 'A' or 'B'
    uint32_t type = 0;   ///< the message identifier, 1..27
    uint32_t mmsi = 0;   ///< the transmitting station; 0 for a message too short to carry it
};

/// What an output has done since it opened, for the statistics.
struct OutputCounts {
    std::string name;      ///< "server:10110", "udp:host:port", "tcp:host:port",
                           ///< "mqtt://host:port/topic", "log", "file:PATH"
    uint64_t sent = 0;     ///< lines (or datagrams) it has sent on
    uint64_t queued = 0;   ///< lines waiting in it now
    uint64_t dropped = 0;  ///< lines it had to drop
    int clients = -1;      ///< connected clients, for a server
};

/// One destination of the messages (the TCP clients, a UDP host, the log): takes each
/// message's lines and sends them on in its own framing. Every call is made on the I/O thread,
/// which is the only thread an output's sockets and state ever see.
class LineOutput {
public:
    virtual ~LineOutput() = default;

    /// Sends the lines of one message; never waits for the network.
    virtual void deliver(const MessageLines& lines) = 0;

    /// Sends the lines of the message `keys` describes. Outputs that file messages by what
    /// they are override this; the others take the lines alone.
    virtual void deliverMessage(const MessageLines& lines, const MessageKeys& keys) {
        static_cast<void>(keys);
        deliver(lines);
    }

    /// Whether `count` more lines can be taken now without one being lost. Only an output that
    /// must not drop (the log of a recording) ever says no; the caller then holds its lines
    /// back and asks again.
    virtual bool ready(std::size_t count) {
        static_cast<void>(count);
        return true;
    }

    /// True while lines handed over have not left yet; the end of a recording waits for it.
    virtual bool pending() const { return false; }

    /// The run is over: starts nothing new (a lookup, a retry). Called before destruction.
    virtual void stop() {}

    virtual OutputCounts counts() const = 0;
};

}  // namespace keelwave::net
