#include "net/network_server.hpp"

#include "app/logger.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/make_shared.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <exception>

namespace {

// Keep-alive tuning for client sockets: after 30 s of silence, probe every 5 s and give up
// after 3 unanswered probes.
constexpr int keepAliveProbeCount = 3;
constexpr int keepAliveIdleSeconds = 30;
constexpr int keepAliveIntervalSeconds = 5;

void setTcpOption(boost::asio::ip::tcp::socket& socket, int name, int value) {
    // A tuning the system refuses is not worth losing the client over; the result is ignored.
    ::setsockopt(socket.native_handle(), IPPROTO_TCP, name, &value, sizeof value);
}

}  // namespace

NetworkSession::NetworkSession(boost::asio::io_service& io, NetworkServer* owner)
    : socket(io), readBuffer(), server(owner) {}

void NetworkSession::writeLine(const boost::shared_ptr<const std::string>& line) {
    bool startWriting = false;
    bool overflowed = false;
    {
        boost::mutex::scoped_lock guard(queueLock);
        if (closed) {
            return;
        }
        if (queuedBytes + line->size() > maxQueuedBytesPerClient) {
            // The client has stopped reading. Free what waits for it now, on this thread, so
            // memory stays bounded however long the I/O thread takes to drop it.
            closed = true;
            std::deque<boost::shared_ptr<const std::string>>().swap(pending);
            overflowed = true;
        } else {
            pending.push_back(line);
            queuedBytes += line->size();
            startWriting = !writing;
            writing = true;
        }
    }
    if (overflowed) {
        boost::asio::post(socket.get_executor(),
                          [self = shared_from_this()] { self->disconnect(); });
    } else if (startWriting) {
        boost::asio::post(socket.get_executor(),
                          [self = shared_from_this()] { self->startWrite(); });
    }
}

void NetworkSession::startReading() {
    socket.async_read_some(boost::asio::buffer(readBuffer),
                           [self = shared_from_this()](const boost::system::error_code& error,
                                                       std::size_t) { self->handleRead(error); });
}

void NetworkSession::handleRead(const boost::system::error_code& error) {
    if (!error) {
        startReading();
    } else if (error != boost::asio::error::operation_aborted) {
        disconnect();
    }
}

void NetworkSession::startWrite() {
    {
        boost::mutex::scoped_lock guard(queueLock);
        if (closed) {
            return;
        }
        inFlight.assign(pending.begin(), pending.end());
        pending.clear();
    }
    std::vector<boost::asio::const_buffer> buffers;
    buffers.reserve(inFlight.size());
    inFlightBytes = 0;
    for (const auto& line : inFlight) {
        buffers.push_back(boost::asio::buffer(*line));
        inFlightBytes += line->size();
    }
    boost::asio::async_write(
        socket, buffers,
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
            self->handleWrite(error);
        });
}

void NetworkSession::handleWrite(const boost::system::error_code& error) {
    // The write is over whatever its outcome: its lines may go.
    inFlight.clear();
    if (error) {
        if (error != boost::asio::error::operation_aborted) {
            disconnect();
        }
        return;
    }
    bool more = false;
    {
        boost::mutex::scoped_lock guard(queueLock);
        queuedBytes -= inFlightBytes;
        more = !closed && !pending.empty();
        writing = more;
    }
    inFlightBytes = 0;
    if (more) {
        startWrite();
    }
}

void NetworkSession::disconnect() {
    // A read and a write can both fail on one broken connection; the client leaves once.
    if (disconnected) {
        return;
    }
    disconnected = true;
    {
        boost::mutex::scoped_lock guard(queueLock);
        closed = true;
        std::deque<boost::shared_ptr<const std::string>>().swap(pending);
    }
    // Cancels the pending read and any write; their handlers release this object.
    boost::system::error_code ignored;
    socket.close(ignored);
    if (!detached) {
        server->removeClient(shared_from_this());
    }
}

NetworkServer::NetworkServer(boost::asio::io_service& ioService, unsigned short port)
    : io(ioService), acceptor(ioService) {
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::tcp::v4(), port);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(boost::asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(boost::asio::socket_base::max_listen_connections);  // SOMAXCONN
    acceptor.set_option(boost::asio::socket_base::reuse_address(true));
    startAccept();
}

NetworkServer::~NetworkServer() {
    {
        boost::mutex::scoped_lock guard(clientsLock);
        for (const auto& client : clients) {
            client->detach();
        }
        clients.clear();
    }
    if (accepting) {
        accepting->detach();
    }
    boost::system::error_code ignored;
    acceptor.close(ignored);
}

unsigned short NetworkServer::localPort() const {
    return acceptor.local_endpoint().port();
}

bool NetworkSession::hasPendingWrites() {
    boost::mutex::scoped_lock guard(queueLock);
    return queuedBytes > 0;
}

void NetworkServer::broadcast(const std::string& line) {
    // One copy of the line, shared by every client's queue until the last has written it.
    const auto shared = boost::make_shared<const std::string>(line);
    boost::mutex::scoped_lock guard(clientsLock);
    for (const auto& client : clients) {
        client->writeLine(shared);
    }
}

bool NetworkServer::hasPendingWrites() {
    boost::mutex::scoped_lock guard(clientsLock);
    for (const auto& client : clients) {
        if (client->hasPendingWrites()) {
            return true;
        }
    }
    return false;
}

void NetworkServer::startAccept() {
    accepting = boost::make_shared<NetworkSession>(io, this);
    acceptor.async_accept(accepting->socket,
                          [this, client = accepting](const boost::system::error_code& error) {
                              // After teardown this server is gone: the client's flag is all that
                              // may be read.
                              if (!client->isDetached()) {
                                  handleAccept(client, error);
                              }
                          });
}

void NetworkServer::handleAccept(const boost::shared_ptr<NetworkSession>& client,
                                 const boost::system::error_code& error) {
    if (error == boost::asio::error::operation_aborted) {
        return;
    }
    if (error) {
        startAccept();
        return;
    }
    {
        boost::mutex::scoped_lock guard(clientsLock);
        clients.insert(client);
        try {
            const auto peer = client->socket.remote_endpoint();
            client->remote = peer.address().to_string() + ":" + std::to_string(peer.port());
        } catch (const std::exception&) {
            // The peer may already be gone; it is served (and soon forgotten) without a name.
        }
        setTcpOption(client->socket, TCP_KEEPCNT, keepAliveProbeCount);
        setTcpOption(client->socket, TCP_KEEPIDLE, keepAliveIdleSeconds);
        setTcpOption(client->socket, TCP_KEEPINTVL, keepAliveIntervalSeconds);
        client->startReading();
        Logger::instance().log(Logger::INFO, "Connected " + client->remote);
    }
    startAccept();
}

void NetworkServer::removeClient(const boost::shared_ptr<NetworkSession>& client) {
    boost::mutex::scoped_lock guard(clientsLock);
    Logger::instance().log(Logger::INFO, "Disconnected " + client->remote);
    clients.erase(client);
}

std::unique_ptr<NetworkServer> enableNetworkServer(boost::asio::io_service& io,
                                                   unsigned short port) {
    return std::make_unique<NetworkServer>(io, port);
}
