#include "net/network_session.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

#include <utility>

namespace keelwave::net {

NetworkSession::NetworkSession(boost::asio::io_context& io) : connection(io), readBuffer() {}

void NetworkSession::start(std::string remote, LeaveHandler onLeave) {
    name = std::move(remote);
    leaveHandler = std::move(onLeave);
    startReading();
}

void NetworkSession::detach() {
    detached = true;
    leaveHandler = nullptr;
}

void NetworkSession::deliver(const std::shared_ptr<const std::string>& line) {
    if (closed) {
        return;
    }
    if (queuedBytes + line->size() > maxQueuedBytesPerClient) {
        // The client has stopped reading: it goes, and what waits for it with it.
        ++lost;
        disconnect();
        return;
    }
    pending.push_back(line);
    queuedBytes += line->size();
    if (inFlight.empty()) {
        startWrite();
    }
}

void NetworkSession::startReading() {
    connection.async_read_some(
        boost::asio::buffer(readBuffer),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
            self->handleRead(error);
        });
}

void NetworkSession::handleRead(const boost::system::error_code& error) {
    if (!error) {
        startReading();
    } else if (error == boost::asio::error::eof) {
        // Only the client's sending side has ended, as listen-only clients end it at once:
        // it goes on receiving.
        awaitFailure();
    } else if (error != boost::asio::error::operation_aborted) {
        disconnect();
    }
}

void NetworkSession::awaitFailure() {
    // A client that shut down its sending side and one that closed entirely look alike until
    // a line reaches them: the second answers it with a reset, which ends this wait. Where no
    // line comes, the keep-alive probes tuned at the accept bring the reset (after about a
    // minute), so a quiet harbour does not fill the client cap with clients long gone.
    boost::system::error_code ignored;
    connection.set_option(boost::asio::socket_base::keep_alive(true), ignored);
    connection.async_wait(boost::asio::ip::tcp::socket::wait_error,
                          [self = shared_from_this()](const boost::system::error_code& error) {
                              if (error != boost::asio::error::operation_aborted) {
                                  self->disconnect();
                              }
                          });
}

void NetworkSession::startWrite() {
    inFlight.assign(pending.begin(), pending.end());
    pending.clear();
    std::vector<boost::asio::const_buffer> buffers;
    buffers.reserve(inFlight.size());
    inFlightBytes = 0;
    for (const auto& line : inFlight) {
        buffers.push_back(boost::asio::buffer(*line));
        inFlightBytes += line->size();
    }
    boost::asio::async_write(
        connection, buffers,
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
            self->handleWrite(error);
        });
}

void NetworkSession::handleWrite(const boost::system::error_code& error) {
    // The write is over whatever its outcome: its lines may go.
    inFlight.clear();
    queuedBytes -= inFlightBytes;
    inFlightBytes = 0;
    if (error) {
        if (error != boost::asio::error::operation_aborted) {
            disconnect();
        }
        return;
    }
    if (!closed && !pending.empty()) {
        startWrite();
    }
}

void NetworkSession::disconnect() {
    // A read and a write can both fail on one broken connection; the client leaves once.
    if (closed) {
        return;
    }
    closed = true;
    lost += queuedLines();
    std::deque<std::shared_ptr<const std::string>>().swap(pending);
    queuedBytes = inFlightBytes;
    // Cancels the pending read and any write; their handlers release this object. The close
    // resets the connection: a client dropped at the cap gets nothing more, rather than the
    // kernel keeping its unsent lines and probing for minutes a window that may never open.
    boost::system::error_code ignored;
    connection.set_option(boost::asio::socket_base::linger(true, 0), ignored);
    connection.close(ignored);
    if (leaveHandler) {
        std::exchange(leaveHandler, nullptr)(shared_from_this());
    }
}

}  // namespace keelwave::net
