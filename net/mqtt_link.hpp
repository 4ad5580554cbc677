#pragma once

#include "net/broker_tls.hpp"
#include "net/mqtt_settings.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct mosquitto;

namespace keelwave::net {

/// What an MQTT link tells its owner: on the I/O thread, never from within libmosquitto.
class MqttLinkListener {
public:
    /// The broker accepted the connection: messages may be published.
    virtual void linkConnected() = 0;
    /// The broker answered the connection with a refusal; the connection ends next.
    virtual void linkRefused(const std::string& reason) = 0;
    /// The connection, or the attempt at one, has ended; its socket is closed.
    virtual void linkLost(const std::string& reason) = 0;
    /// The broker acknowledged the QoS 1 message of that identifier.
    virtual void linkPublished(int messageId) = 0;
    /// libmosquitto has handed everything it held to the socket: more may be published.
    virtual void linkWritable() = 0;

protected:
    ~MqttLinkListener() = default;
};

/// One libmosquitto client run by our own event loop rather than by a thread of its own:
///
///     the broker's socket (a duplicate, watched by Boost.Asio)
///       readable ──► mosquitto_loop_read  ─┐
///       writable ──► mosquitto_loop_write ─┼─► callbacks ─► the listener
///     every second ─► mosquitto_loop_misc ─┘   (keep-alive pings, a silent broker given up)
///
/// After each call into libmosquitto the link looks at its socket again: it changes when a
/// connection begins or ends, and a write is watched for only while libmosquitto holds
/// something to write. So everything MQTT does happens on the I/O thread, between the other
/// outputs' work, and no lock is needed. The link never looks a name up: it is given the
/// address, so that a slow name service holds up nothing. Always held by std::shared_ptr.
class MqttLink : public std::enable_shared_from_this<MqttLink> {
public:
    struct Identity {
        std::string clientId;
        std::string willTopic;    ///< where the broker says "offline" if we vanish
        std::string willPayload;  ///< "offline"
    };

    /// Prepares the client; over TLS it trusts `settings.caFile` (or the system's
    /// certificates) and checks the broker's certificate against `settings.host`. Throws
    /// std::runtime_error with the reason if the certificates cannot be read or libmosquitto
    /// refuses. At most `sendWindow` QoS 1 messages go unacknowledged.
    MqttLink(boost::asio::io_context& io, const MqttSettings& settings, const Identity& identity,
             int sendWindow, MqttLinkListener& listener);
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    /// Starts connecting to `address` (numeric) at the broker's port; false with the reason
    /// ("cannot connect: Connection refused") when that fails at once.
    bool connect(const std::string& address, std::string& reason);
    /// Hands a message to libmosquitto; false if it refuses (no connection).
    bool publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                 int* messageId);
    /// True while libmosquitto holds bytes the socket has not taken yet.
    bool busy() const;
    /// Ends the connection or the attempt at once (it took too long); the listener hears of
    /// it as a loss. False if there was none to end.
    bool drop();
    /// The run is over: publishes `finalStatus` retained on the will's topic and says goodbye
    /// if connected, then tells the listener nothing more.
    void close(const std::string& finalStatus);

private:
    static void onConnect(mosquitto* handle, void* link, int result);
    static void onDisconnect(mosquitto* handle, void* link, int result);
    static void onPublish(mosquitto* handle, void* link, int messageId);
    /// Follows libmosquitto's socket after a call into it, and watches what it waits for.
    void follow();
    void watchRead();
    void watchWrite();
    void tick();
    /// Tells the listener what the callbacks heard. Only once libmosquitto has returned: called
    /// from within its callbacks, the listener's calls into it would take its locks in another
    /// order than they are taken elsewhere.
    void passOn();
    /// Tells the listener that more may be published, if so.
    void offerRoom();
    /// What ended the connection, from libmosquitto's result code and the system's error.
    std::string lossReason(int result, int failure) const;

    /// Seconds of silence after which the broker is pinged; one more without an answer ends
    /// the connection, so a dead path is noticed within about a minute.
    static constexpr int keepAliveSeconds = 30;

    /// What a callback heard, to be passed on.
    struct Event {
        enum class Kind { connected, refused, lost, published } kind;
        int messageId;
        std::string reason;
    };

    std::unique_ptr<BrokerTls> tls;  ///< outlives the client, which uses its context
    mosquitto* handle = nullptr;
    MqttLinkListener* listener;
    std::string willTopic;
    int port;
    bool connected = false;
    bool ticking = false;     ///< the housekeeping timer runs
    bool lossUntold = false;  ///< a connection (or attempt) whose end the listener awaits
    std::vector<Event> events;
    bool closed = false;
    boost::asio::posix::stream_descriptor watched;  ///< a duplicate of libmosquitto's socket
    int watchedSocket = -1;                         ///< libmosquitto's own descriptor
    uint64_t watchRound = 0;  ///< bumped whenever the socket changes: old waits stand down
    bool reading = false;
    bool writing = false;
    boost::asio::steady_timer housekeeping;
};

}  // namespace keelwave::net
