#pragma once

#include "net/feed_link.hpp"
#include "net/line_output.hpp"
#include "net/mqtt_link.hpp"
#include "net/mqtt_settings.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace keelwave::net {

/// The `mqtt://` and `mqtts://` output: publishes every message, its lines joined by line
/// feeds, to a topic filled from the station and the message, and keeps a retained status on
/// the station's status topic: "online …" while connected, "offline" when the run ends or,
/// as the broker's will, when the station vanishes. On the I/O thread alone:
///
///     attempt ──► resolve ──► MqttLink::connect ──► accepted: "online", publish the queue
///       ▲   └ no acceptance within attemptLimit ┐        │ lost, refused
///       │                                       ▼        ▼
///       └──────────── back-off wait ◄─────── failure: ERROR once per outage
///
/// Messages wait in a bounded queue while the broker is down or slow (oldest dropped first,
/// counted). QoS 0 messages count as sent once the socket has taken them; QoS 1 messages once
/// the broker acknowledges them, at most `sendWindow` unacknowledged at a time (libmosquitto
/// sends those again after a reconnection). Always held by std::shared_ptr.
class MqttOutput : public LineOutput,
                   public MqttLinkListener,
                   public std::enable_shared_from_this<MqttOutput> {
public:
    struct Station {
        std::string name;          ///< fills {station}
        std::string clientId;      ///< unique on the broker
        std::string onlineStatus;  ///< "online Keelwave v.…"
    };

    /// QoS 1 messages that may await the broker's acknowledgement: enough to keep a local
    /// broker busy, few enough that a reconnection sends little twice.
    static constexpr int sendWindow = 100;

    /// Throws std::invalid_argument if the station name makes a topic unusable (a wildcard),
    /// std::runtime_error if TLS cannot be set up (certificates that cannot be read).
    /// `holdBack`: a recording, which waits while the broker is connected but slow rather than
    /// lose a message.
    MqttOutput(boost::asio::io_context& io, MqttSettings settings, Station station, bool holdBack,
               FeedTiming timing = {}, std::size_t queueBytes = FeedQueue::defaultCapacityBytes);
    ~MqttOutput() override;
    MqttOutput(const MqttOutput&) = delete;
    MqttOutput& operator=(const MqttOutput&) = delete;

    /// Makes the first attempt.
    void start();

    void deliver(const MessageLines& lines) override { deliverMessage(lines, MessageKeys{}); }
    void deliverMessage(const MessageLines& lines, const MessageKeys& keys) override;
    bool ready(std::size_t count) override;
    bool pending() const override;
    void stop() override;
    OutputCounts counts() const override;

private:
    enum class State { idle, connecting, connected, waiting, stopped };

    void linkConnected() override;
    void linkRefused(const std::string& reason) override;
    void linkLost(const std::string& reason) override;
    void linkPublished(int messageId) override;
    void linkWritable() override { publishQueued(); }

    void attempt();
    void handleResolve(uint64_t round, const boost::system::error_code& error,
                       const boost::asio::ip::tcp::resolver::results_type& results);
    void handleDeadline(uint64_t round);
    /// Hands queued messages to libmosquitto while the socket and the window take them.
    void publishQueued();
    /// Ends this round and waits before the next attempt.
    void fail(const std::string& reason);

    const MqttSettings settings;
    const Station station;
    const std::string statusTopic;
    const bool holdBack;
    const FeedTiming timing;
    boost::asio::ip::tcp::resolver resolver;
    boost::asio::steady_timer deadline;  ///< the attempt limit
    boost::asio::steady_timer retry;     ///< the back-off wait
    std::shared_ptr<MqttLink> link;
    State state = State::idle;
    uint64_t round = 0;  ///< bumped by every attempt and failure: older handlers stand down
    bool resolving = false;
    bool timedOut = false;  ///< the attempt was given up: its loss is reported as that
    std::string refusal;    ///< the broker's refusal, reported when the connection ends
    std::string brokerAddress;
    ReconnectBackoff backoff;
    FeedQueue queue;
    OutageReport outage;
    std::unordered_map<int, uint32_t> unacknowledged;  ///< QoS 1: message id ─► its lines
    std::chrono::steady_clock::time_point connectedAt;
    uint64_t sent = 0;
};

}  // namespace keelwave::net
