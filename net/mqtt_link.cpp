#include "net/mqtt_link.hpp"

#include "net/feed_link.hpp"

#include <mosquitto.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace keelwave::net {

namespace {

/// Packets one readiness of the socket may read: a burst of acknowledgements at once.
constexpr int packetsPerRead = 64;
constexpr std::chrono::seconds housekeepingInterval{1};

void initialiseLibrary() {
    // Once per process, before the first client; libmosquitto sets up OpenSSL with it.
    static const int initialised = mosquitto_lib_init();
    static_cast<void>(initialised);
}

/// "Connection Refused: not authorised." as "connection refused: not authorised".
std::string refusal(int result) {
    std::string text = mosquitto_connack_string(result);
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    for (char& character : text) {
        character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
    }
    return text;
}

}  // namespace

MqttLink::MqttLink(boost::asio::io_context& io, const MqttSettings& settings,
                   const Identity& identity, int sendWindow, MqttLinkListener& linkListener)
    : tls(settings.tls ? std::make_unique<BrokerTls>(settings.host, settings.caFile) : nullptr),
      listener(&linkListener),
      willTopic(identity.willTopic),
      port(settings.port),
      watched(io),
      housekeeping(io) {
    initialiseLibrary();
    handle = mosquitto_new(identity.clientId.c_str(), true, this);
    if (handle == nullptr) {
        throw std::runtime_error(std::string("cannot create an MQTT client: ") +
                                 std::strerror(errno));
    }
    mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(handle, MOSQ_OPT_SEND_MAXIMUM, sendWindow);
    if (!settings.user.empty()) {
        mosquitto_username_pw_set(handle, settings.user.c_str(),
                                  settings.password.empty() ? nullptr : settings.password.c_str());
    }
    mosquitto_will_set(handle, identity.willTopic.c_str(),
                       static_cast<int>(identity.willPayload.size()), identity.willPayload.data(),
                       1, true);
    mosquitto_connect_callback_set(handle, &MqttLink::onConnect);
    mosquitto_disconnect_callback_set(handle, &MqttLink::onDisconnect);
    mosquitto_publish_callback_set(handle, &MqttLink::onPublish);
    if (tls) {
        // With its defaults off libmosquitto uses the context as it is; "insecure" only keeps
        // it from checking the certificate against the address it is given.
        mosquitto_void_option(handle, MOSQ_OPT_SSL_CTX, tls->context());
        mosquitto_int_option(handle, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        mosquitto_tls_insecure_set(handle, true);
    }
}

MqttLink::~MqttLink() {
    mosquitto_destroy(handle);  // closes its socket, if any
}

bool MqttLink::connect(const std::string& address, std::string& reason) {
    connected = false;
    if (tls) {
        tls->forgetFailure();
    }
    const int result = mosquitto_connect_async(handle, address.c_str(), port, keepAliveSeconds);
    if (result != MOSQ_ERR_SUCCESS) {
        // A handshake the broker answers at once may fail already.
        reason = result == MOSQ_ERR_TLS ? lossReason(result, 0)
                 : result == MOSQ_ERR_ERRNO
                     ? std::string("cannot connect: ") + std::strerror(errno)
                     : std::string("cannot connect: ") + mosquitto_strerror(result);
        follow();
        return false;
    }
    if (mosquitto_socket(handle) >= 0) {
        tuneFeedSocket(mosquitto_socket(handle));
        lossUntold = true;
    }
    if (!ticking) {
        ticking = true;
        tick();
    }
    follow();
    return true;
}

bool MqttLink::publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                       int* messageId) {
    const int result =
        mosquitto_publish(handle, messageId, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), qos, retain);
    follow();
    return result == MOSQ_ERR_SUCCESS;
}

bool MqttLink::busy() const {
    return mosquitto_want_write(handle);
}

bool MqttLink::drop() {
    // Shutting the socket down wakes the watch, and libmosquitto's next read or write ends the
    // connection the usual way (also one still being made), telling the listener.
    return mosquitto_socket(handle) >= 0 && ::shutdown(mosquitto_socket(handle), SHUT_RDWR) == 0;
}

void MqttLink::close(const std::string& finalStatus) {
    if (closed) {
        return;
    }
    if (connected) {
        // Said at once if the socket takes it, as it nearly always does; otherwise the broker
        // says "offline" for us, as its will, when the connection closes.
        mosquitto_publish(handle, nullptr, willTopic.c_str(), static_cast<int>(finalStatus.size()),
                          finalStatus.data(), 0, true);
        mosquitto_disconnect(handle);
    }
    closed = true;
    listener = nullptr;
    ++watchRound;
    boost::system::error_code ignored;
    watched.close(ignored);
    housekeeping.cancel();
}

void MqttLink::follow() {
    if (closed) {
        return;
    }
    const int socket = mosquitto_socket(handle);
    if (socket < 0 && lossUntold) {
        // libmosquitto closes the socket of a failed TLS handshake without a word.
        lossUntold = false;
        connected = false;
        events.push_back({Event::Kind::lost, 0, lossReason(MOSQ_ERR_TLS, 0)});
    }
    if (socket != watchedSocket) {
        ++watchRound;
        reading = false;
        writing = false;
        boost::system::error_code ignored;
        watched.close(ignored);
        watchedSocket = socket;
        // A duplicate of our own, so that the watch never outlives the descriptor it watches:
        // libmosquitto closes its socket whenever a connection ends.
        const int copy = socket >= 0 ? ::fcntl(socket, F_DUPFD_CLOEXEC, 0) : -1;
        if (copy >= 0) {
            watched.assign(copy, ignored);
            if (ignored) {
                ::close(copy);
            }
        }
    }
    if (!watched.is_open()) {
        return;
    }
    if (!reading) {
        watchRead();
    }
    if (!writing && mosquitto_want_write(handle)) {
        watchWrite();
    }
}

void MqttLink::watchRead() {
    reading = true;
    watched.async_wait(
        boost::asio::posix::stream_descriptor::wait_read,
        [self = shared_from_this(), round = watchRound](const boost::system::error_code& error) {
            if (round != self->watchRound) {
                return;
            }
            self->reading = false;
            if (!error) {
                mosquitto_loop_read(self->handle, packetsPerRead);
            }
            self->follow();
            self->passOn();
            self->offerRoom();
        });
}

void MqttLink::watchWrite() {
    writing = true;
    watched.async_wait(
        boost::asio::posix::stream_descriptor::wait_write,
        [self = shared_from_this(), round = watchRound](const boost::system::error_code& error) {
            if (round != self->watchRound) {
                return;
            }
            self->writing = false;
            if (!error) {
                mosquitto_loop_write(self->handle, 1);
            }
            self->follow();
            self->passOn();
            self->offerRoom();
        });
}

void MqttLink::tick() {
    mosquitto_loop_misc(handle);
    follow();
    passOn();
    housekeeping.expires_after(housekeepingInterval);
    housekeeping.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        if (!error && !self->closed) {
            self->tick();
        }
    });
}

void MqttLink::offerRoom() {
    if (!closed && connected && !mosquitto_want_write(handle)) {
        listener->linkWritable();
    }
}

void MqttLink::onConnect(mosquitto*, void* context, int result) {
    auto* link = static_cast<MqttLink*>(context);
    link->connected = result == 0;
    link->events.push_back(result == 0 ? Event{Event::Kind::connected, 0, {}}
                                       : Event{Event::Kind::refused, 0, refusal(result)});
}

void MqttLink::onDisconnect(mosquitto*, void* context, int result) {
    const int failure = errno;
    auto* link = static_cast<MqttLink*>(context);
    link->connected = false;
    link->lossUntold = false;
    link->events.push_back({Event::Kind::lost, 0, link->lossReason(result, failure)});
}

void MqttLink::onPublish(mosquitto*, void* context, int messageId) {
    static_cast<MqttLink*>(context)->events.push_back({Event::Kind::published, messageId, {}});
}

void MqttLink::passOn() {
    std::vector<Event> told;
    told.swap(events);
    for (const Event& event : told) {
        if (closed) {
            return;
        }
        switch (event.kind) {
            case Event::Kind::connected:
                listener->linkConnected();
                break;
            case Event::Kind::refused:
                listener->linkRefused(event.reason);
                break;
            case Event::Kind::lost:
                listener->linkLost(event.reason);
                break;
            case Event::Kind::published:
                listener->linkPublished(event.messageId);
                break;
        }
    }
}

std::string MqttLink::lossReason(int result, int failure) const {
    switch (result) {
        case MOSQ_ERR_ERRNO:
            return std::string("connection lost: ") + std::strerror(failure);
        case MOSQ_ERR_TLS:
            return "TLS failed" +
                   (!tls || tls->failure().empty() ? std::string() : ": " + tls->failure());
        case MOSQ_ERR_KEEPALIVE:
            return "the broker stopped answering";
        case MOSQ_ERR_CONN_LOST:
            return "connection lost";
        default:
            return std::string("connection lost: ") + mosquitto_strerror(result);
    }
}

}  // namespace keelwave::net
