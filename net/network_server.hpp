#pragma once

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include <array>
#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

class NetworkServer;

/// Most bytes that may wait for one client (queued plus being written). A client that falls
/// this far behind is dropped rather than let it hold the program's memory: at 78 bytes a line
/// it is over 13000 sentences, minutes of traffic even in a busy harbour.
constexpr std::size_t maxQueuedBytesPerClient = 1024 * 1024;

/// Most clients served at once; one more is closed as soon as it is accepted. Far more than a
/// chart table needs, it bounds what stalled clients can hold (100 MiB at the byte cap above)
/// and leaves over 900 of the usual 1024 descriptors to the listener, the UDP socket, the
/// tuner and the event loop.
constexpr std::size_t maxClients = 100;

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

/// The TCP server of the `net` option: accepts IPv4 and IPv6 clients on one port (IPv4 alone
/// where the machine has no IPv6) and writes every broadcast line to all of them, up to
/// maxClients. Handlers run on the thread that runs `io`.
class NetworkServer {
public:
    /// Opens, binds and listens on `port` (0 lets the system choose) of the IPv6 any-address
    /// for both protocols, or of the IPv4 one if that cannot be had, and starts accepting.
    /// Throws boost::system::system_error when the port cannot be had.
    NetworkServer(boost::asio::io_service& io, unsigned short port);
    /// Detaches every client and closes the listener. Call only when no thread runs `io` and
    /// nothing calls `broadcast` any more; completions that run later never touch the server.
    ~NetworkServer();
    NetworkServer(const NetworkServer&) = delete;
    NetworkServer& operator=(const NetworkServer&) = delete;

    /// Queues `line` for every connected client and returns at once (any thread).
    void broadcast(const std::string& line);

    /// True while any client still has lines waiting or being written; the end of an input
    /// waits for this before the run stops.
    bool hasPendingWrites();

    /// The port actually listened on.
    unsigned short localPort() const;

private:
    friend class NetworkSession;

    void listen(const boost::asio::ip::tcp::endpoint& endpoint, boost::system::error_code& error);
    void startAccept();
    void handleAccept(const boost::shared_ptr<NetworkSession>& client,
                      const boost::system::error_code& error);
    /// Stops accepting for acceptPause after a failure for want of descriptors or memory,
    /// which would otherwise repeat at once for as long as the connection waits.
    void pauseAccepting(const boost::system::error_code& error);
    void removeClient(const boost::shared_ptr<NetworkSession>& client);

    boost::asio::io_service& io;
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::steady_timer acceptPause;
    bool acceptFailing = false;  // the last accept failed for want of resources (I/O thread)
    std::set<boost::shared_ptr<NetworkSession>> clients;
    boost::mutex clientsLock;  // guards clients; taken before any session's and the Logger's
    boost::shared_ptr<NetworkSession> accepting;  // the client of the pending accept
};

/// Creates the server listening on `port`; a failure to open, bind or listen is thrown.
std::unique_ptr<NetworkServer> enableNetworkServer(boost::asio::io_service& io,
                                                   unsigned short port);
