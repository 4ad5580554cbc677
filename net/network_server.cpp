#include "net/network_server.hpp"

#include "base/logger.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/ip/v6_only.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <exception>

namespace keelwave::net {

namespace {

/// NMEA 0183's line end, after every line a client receives.
const std::string lineEnd = "\r\n";

/// How long accepting rests after it failed for want of descriptors or memory: clients that
/// leave in the meantime give them back, and a failing accept costs nothing while it rests.
constexpr std::chrono::seconds acceptPauseTime{1};

// Keep-alive tuning for client sockets: after 30 s of silence, probe every 5 s and give up
// after 3 unanswered probes.
constexpr int keepAliveProbeCount = 3;
constexpr int keepAliveIdleSeconds = 30;
constexpr int keepAliveIntervalSeconds = 5;

void setTcpOption(boost::asio::ip::tcp::socket& socket, int name, int value) {
    // A tuning the system refuses is not worth losing the client over; the result is ignored.
    ::setsockopt(socket.native_handle(), IPPROTO_TCP, name, &value, sizeof value);
}

/// The peer as "address:port", "[address]:port" for IPv6; an IPv4 client of the dual-stack
/// listener is written as IPv4. Throws if the peer is not known.
std::string describePeer(const boost::asio::ip::tcp::socket& socket) {
    const auto peer = socket.remote_endpoint();
    boost::asio::ip::address address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
    }
    const std::string text = address.to_string();
    const std::string port = std::to_string(peer.port());
    return address.is_v6() ? "[" + text + "]:" + port : text + ":" + port;
}

/// Accept failures that the next accept would meet again at once: EMFILE, ENFILE, ENOBUFS,
/// ENOMEM. Compared as the system's codes, as the accept gives them.
bool lacksResources(const boost::system::error_code& error) {
    namespace asioError = boost::asio::error;
    const boost::system::error_code systemOutOfFiles(ENFILE, asioError::get_system_category());
    return error == asioError::no_descriptors || error == systemOutOfFiles ||
           error == asioError::no_buffer_space || error == asioError::no_memory;
}

}  // namespace

NetworkServer::NetworkServer(boost::asio::io_context& ioService, unsigned short port)
    : io(ioService), acceptor(ioService), acceptPause(ioService) {
    using boost::asio::ip::tcp;
    boost::system::error_code error;
    listen(tcp::endpoint(tcp::v6(), port), error);
    if (error) {
        // No IPv6 here (or not on this port): IPv4 alone, whose failure is the one reported.
        acceptor.close(error);
        listen(tcp::endpoint(tcp::v4(), port), error);
        if (error) {
            throw boost::system::system_error(error);
        }
    }
    startAccept();
}

void NetworkServer::listen(const boost::asio::ip::tcp::endpoint& endpoint,
                           boost::system::error_code& error) {
    const auto reuseAddress = boost::asio::socket_base::reuse_address(true);
    acceptor.open(endpoint.protocol(), error);
    if (!error) {
        acceptor.set_option(reuseAddress, error);
    }
    if (!error && endpoint.protocol() == boost::asio::ip::tcp::v6()) {
        // IPv4 clients too, as mapped addresses, whatever the system's default.
        acceptor.set_option(boost::asio::ip::v6_only(false), error);
    }
    if (!error) {
        acceptor.bind(endpoint, error);
    }
    if (!error) {
        acceptor.listen(boost::asio::socket_base::max_listen_connections, error);  // SOMAXCONN
    }
    if (!error) {
        acceptor.set_option(reuseAddress, error);
    }
}

NetworkServer::~NetworkServer() {
    for (const auto& client : clients) {
        client->detach();
    }
    clients.clear();
    if (accepting) {
        accepting->detach();
    }
    boost::system::error_code ignored;
    acceptPause.cancel(ignored);
    acceptor.close(ignored);
}

unsigned short NetworkServer::localPort() const {
    return acceptor.local_endpoint().port();
}

void NetworkServer::deliver(const MessageLines& lines) {
    linesDelivered += lines.size();
    for (const std::string& line : lines) {
        // One copy of the line, shared by every client's queue until the last has written it.
        const auto shared = std::make_shared<const std::string>(line + lineEnd);
        // A client dropped at its cap leaves the set on the way.
        for (auto client = clients.begin(); client != clients.end();) {
            (*client++)->deliver(shared);
        }
    }
}

OutputCounts NetworkServer::counts() const {
    uint64_t queued = 0;
    for (const auto& client : clients) {
        queued += client->queuedLines();
    }
    boost::system::error_code unknown;
    const auto local = acceptor.local_endpoint(unknown);
    return {"server:" + std::to_string(local.port()), linesDelivered, queued, droppedLines,
            static_cast<int>(clients.size())};
}

bool NetworkServer::pending() const {
    for (const auto& client : clients) {
        if (client->hasPendingWrites()) {
            return true;
        }
    }
    return false;
}

void NetworkServer::startAccept() {
    accepting = std::make_shared<NetworkSession>(io);
    acceptor.async_accept(accepting->socket(),
                          [this, client = accepting](const boost::system::error_code& error) {
                              // After teardown this server is gone: the client's flag is all that
                              // may be read.
                              if (!client->isDetached()) {
                                  handleAccept(client, error);
                              }
                          });
}

void NetworkServer::handleAccept(const std::shared_ptr<NetworkSession>& client,
                                 const boost::system::error_code& error) {
    if (error == boost::asio::error::operation_aborted) {
        return;
    }
    if (lacksResources(error)) {
        pauseAccepting(error);
        return;
    }
    if (error) {
        startAccept();
        return;
    }
    acceptFailing = false;
    std::string remote;
    try {
        remote = describePeer(client->socket());
    } catch (const std::exception&) {
        // The peer may already be gone; it is served (and soon forgotten) without a name.
    }
    if (clients.size() >= maxClients) {
        base::Logger::instance().log(
            base::Logger::INFO,
            "Refused " + remote + ", already " + std::to_string(maxClients) + " clients");
        boost::system::error_code ignored;
        client->socket().close(ignored);
    } else {
        clients.insert(client);
        setTcpOption(client->socket(), TCP_KEEPCNT, keepAliveProbeCount);
        setTcpOption(client->socket(), TCP_KEEPIDLE, keepAliveIdleSeconds);
        setTcpOption(client->socket(), TCP_KEEPINTVL, keepAliveIntervalSeconds);
        client->start(remote,
                      [this](const std::shared_ptr<NetworkSession>& gone) { removeClient(gone); });
        base::Logger::instance().log(base::Logger::INFO, "Connected " + remote);
    }
    startAccept();
}

void NetworkServer::pauseAccepting(const boost::system::error_code& error) {
    // Logged once for as long as the shortage lasts, not at every retry.
    if (!acceptFailing) {
        acceptFailing = true;
        base::Logger::instance().log(base::Logger::ERROR,
                                     "Accept error " + error.message() + ", retrying every second");
    }
    acceptPause.expires_after(acceptPauseTime);
    // Teardown detaches the client of the failed accept, as it would a pending one.
    acceptPause.async_wait([this, client = accepting](const boost::system::error_code& waited) {
        if (!waited && !client->isDetached()) {
            startAccept();
        }
    });
}

void NetworkServer::removeClient(const std::shared_ptr<NetworkSession>& client) {
    base::Logger::instance().log(base::Logger::INFO, "Disconnected " + client->remote());
    droppedLines += client->lostLines();
    clients.erase(client);
}

std::unique_ptr<NetworkServer> enableNetworkServer(boost::asio::io_context& io,
                                                   unsigned short port) {
    return std::make_unique<NetworkServer>(io, port);
}

}  // namespace keelwave::net
