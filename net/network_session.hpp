#pragma once

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include <array>
#include <atomic>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace keelwave::net {

class NetworkServer;

/// Most bytes that may wait for one client (queued plus being written). A client that falls
/// this far behind is dropped rather than let it hold the program's memory: at 78 bytes a line
/// it is over 13000 sentences, minutes of traffic even in a busy harbour.
constexpr std::size_t maxQueuedBytesPerClient = 1024 * 1024;

/// One accepted TCP client. Lines reach it from the channel threads through `writeLine`, which
/// only queues them; the socket itself is used on the I/O thread alone:
///
///     channel thread                       I/O thread
///     writeLine ──► pending (queueLock) ──► startWrite ──► async_write ──► handleWrite
///                   └ empty→non-empty posts startWrite once   └ next batch, or idle
///
/// Lines leave whole and in `writeLine` order, with one write in flight at a time.
class NetworkSession : public boost::enable_shared_from_this<NetworkSession> {
public:
    NetworkSession(boost::asio::io_service& io, NetworkServer* owner);
    NetworkSession(const NetworkSession&) = delete;
    NetworkSession& operator=(const NetworkSession&) = delete;

    /// Queues one line for this client; any thread, never blocks on the network. Past the
    /// byte cap the queue is freed and the client dropped on the I/O thread.
    void writeLine(const boost::shared_ptr<const std::string>& line);

    /// True while lines wait in the queue or are being written.
    bool hasPendingWrites();

    /// Called by the server's teardown: from then on nothing calls back into the server.
    void detach() { detached = true; }
    bool isDetached() const { return detached; }

private:
    friend class NetworkServer;

    /// Starts the discarding read that notices when the client goes away.
    void startReading();
    void handleRead(const boost::system::error_code& error);
    /// After the end of the client's input: waits for the connection to fail, which it does
    /// when a client that closed entirely answers the next line, or a keep-alive probe, with
    /// a reset.
    void awaitFailure();
    /// Writes everything queued so far as one batch (I/O thread).
    void startWrite();
    void handleWrite(const boost::system::error_code& error);
    /// Forgets the client: frees its queue, closes the socket and, once, tells the server.
    void disconnect();

    /// Clients have nothing to say; a read only notices that the connection has ended.
    static constexpr std::size_t readBufferBytes = 256;

    boost::asio::ip::tcp::socket socket;
    std::array<char, readBufferBytes> readBuffer;  // whatever the client sends; never looked at
    NetworkServer* server;
    std::string remote;  // "address:port", "[address]:port" for IPv6; empty if unknown
    std::atomic<bool> detached{false};

    boost::mutex queueLock;  // guards pending, queuedBytes, writing and closed
    std::deque<boost::shared_ptr<const std::string>> pending;
    std::size_t queuedBytes = 0;  // bytes in `pending` and in `inFlight`
    bool writing = false;         // a write is in flight or its start has been posted
    bool closed = false;          // dropped: lines are no longer accepted

    std::vector<boost::shared_ptr<const std::string>> inFlight;  // I/O thread only
    std::size_t inFlightBytes = 0;                               // I/O thread only
    bool disconnected = false;                                   // I/O thread only
};

}  // namespace keelwave::net
