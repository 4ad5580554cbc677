#include "net/mqtt_link.hpp"

#include "net/feed_link.hpp"

#include <mosquitto.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <boost/asio/ip/address.hpp>

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
    : listener(&linkListener),
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
    if (settings.tls) {
        try {
            prepareTls(settings);
        } catch (...) {
            mosquitto_destroy(handle);  // no destructor runs for a constructor that throws
            throw;
        }
    }
}

MqttLink::~MqttLink() {
    mosquitto_destroy(handle);  // closes its socket, if any
}

void MqttLink::prepareTls(const MqttSettings& settings) {
    // Our own TLS context, because libmosquitto is handed the address we looked up, not the
    // name: left to itself it would check the certificate against the address and name the
    // address to the server. The context checks the name, and names it when the handshake
    // begins.
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        throw std::runtime_error("cannot set up TLS");
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    const bool trusted =
        settings.caFile.empty()
            ? SSL_CTX_set_default_verify_paths(context) == 1
            : SSL_CTX_load_verify_locations(context, settings.caFile.c_str(), nullptr) == 1;
    if (!trusted) {
        SSL_CTX_free(context);
        throw std::runtime_error(settings.caFile + ": no certificates could be read");
    }
    SSL_CTX_set_app_data(context, this);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &MqttLink::verifyCertificate);
    X509_VERIFY_PARAM* check = SSL_CTX_get0_param(context);
    boost::system::error_code notAnAddress;
    boost::asio::ip::make_address(settings.host, notAnAddress);
    if (notAnAddress) {
        tlsHost = settings.host;
        X509_VERIFY_PARAM_set1_host(check, settings.host.c_str(), 0);
        SSL_CTX_set_info_callback(context, [](const SSL* session, int where, int) {
            if ((where & SSL_CB_HANDSHAKE_START) != 0) {
                const auto* link =
                    static_cast<const MqttLink*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(session)));
                SSL_set_tlsext_host_name(const_cast<SSL*>(session), link->tlsHost.c_str());
            }
        });
    } else {
        X509_VERIFY_PARAM_set1_ip_asc(check, settings.host.c_str());
    }
    // libmosquitto takes a reference of its own; with its defaults off it uses the context as
    // it is, and "insecure" only keeps it from checking the certificate against the address.
    mosquitto_void_option(handle, MOSQ_OPT_SSL_CTX, context);
    mosquitto_int_option(handle, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    mosquitto_tls_insecure_set(handle, true);
    SSL_CTX_free(context);
}

int MqttLink::verifyCertificate(int passed, X509_STORE_CTX* store) {
    if (passed == 0) {
        const auto* session = static_cast<const SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* link = static_cast<MqttLink*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(session)));
        link->tlsFailure = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    }
    return passed;
}

bool MqttLink::connect(const std::string& address, std::string& reason) {
    connected = false;
    tlsFailure.clear();
    const int result = mosquitto_connect_async(handle, address.c_str(), port, keepAliveSeconds);
    if (result != MOSQ_ERR_SUCCESS) {
        reason = result == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(result);
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
        listener->linkLost(lossReason(MOSQ_ERR_TLS, 0));
        return;
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
            self->offerRoom();
        });
}

void MqttLink::tick() {
    mosquitto_loop_misc(handle);
    follow();
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
    if (link->closed) {
        return;
    }
    if (result == 0) {
        link->listener->linkConnected();
    } else {
        link->listener->linkRefused(refusal(result));
    }
}

void MqttLink::onDisconnect(mosquitto*, void* context, int result) {
    const int failure = errno;
    auto* link = static_cast<MqttLink*>(context);
    link->connected = false;
    link->lossUntold = false;
    if (!link->closed) {
        link->listener->linkLost(link->lossReason(result, failure));
    }
}

void MqttLink::onPublish(mosquitto*, void* context, int messageId) {
    auto* link = static_cast<MqttLink*>(context);
    if (!link->closed) {
        link->listener->linkPublished(messageId);
    }
}

std::string MqttLink::lossReason(int result, int failure) const {
    switch (result) {
        case MOSQ_ERR_ERRNO:
            return std::string("connection lost: ") + std::strerror(failure);
        case MOSQ_ERR_TLS:
            return "TLS failed" + (tlsFailure.empty() ? std::string() : ": " + tlsFailure);
        case MOSQ_ERR_KEEPALIVE:
            return "the broker stopped answering";
        case MOSQ_ERR_CONN_LOST:
            return "connection lost";
        default:
            return std::string("connection lost: ") + mosquitto_strerror(result);
    }
}

}  // namespace keelwave::net
