#include "net/network_session.hpp"

#include "net/network_server.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

namespace keelwave::net {

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
    socket.set_option(boost::asio::socket_base::keep_alive(true), ignored);
    socket.async_wait(boost::asio::ip::tcp::socket::wait_error,
                      [self = shared_from_this()](const boost::system::error_code& error) {
                          if (error != boost::asio::error::operation_aborted) {
                              self->disconnect();
                          }
                      });
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
    // Cancels the pending read and any write; their handlers release this object. The close
    // resets the connection: a client dropped at the cap gets nothing more, rather than the
    // kernel keeping its unsent lines and probing for minutes a window that may never open.
    boost::system::error_code ignored;
    socket.set_option(boost::asio::socket_base::linger(true, 0), ignored);
    socket.close(ignored);
    if (!detached) {
        server->removeClient(shared_from_this());
    }
}

bool NetworkSession::hasPendingWrites() {
    boost::mutex::scoped_lock guard(queueLock);
    return queuedBytes > 0;
}

}  // namespace keelwave::net
