#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace keelwave::net {

/// Most bytes that may wait for one client (queued plus being written). A client that falls
/// this far behind is dropped rather than let it hold the program's memory: at 78 bytes a line
/// it is over 13000 sentences, minutes of traffic even in a busy harbour.
constexpr std::size_t maxQueuedBytesPerClient = 1024 * 1024;

/// One accepted TCP client, on the I/O thread alone: lines are queued by `deliver` and written
/// one batch at a time, each write taking everything queued meanwhile:
///
///     deliver ──► pending ──► (none in flight) startWrite ──► async_write ──► handleWrite
///                             └ past the byte cap: the client is dropped     └ next batch
///
/// Lines leave whole and in `deliver` order. Handlers hold the session alive; when the client
/// goes (an error, the cap), its leave handler is told once.
class NetworkSession : public std::enable_shared_from_this<NetworkSession> {
public:
    /// Told once when the client has gone and its socket is closed.
    using LeaveHandler = std::function<void(const std::shared_ptr<NetworkSession>&)>;

    explicit NetworkSession(boost::asio::io_context& io);
    NetworkSession(const NetworkSession&) = delete;
    NetworkSession& operator=(const NetworkSession&) = delete;

    /// The socket an accept connects.
    boost::asio::ip::tcp::socket& socket() { return connection; }

    /// Serves the accepted client known as `remote` ("address:port", "[address]:port" for
    /// IPv6; empty if unknown): starts the read that notices when it goes.
    void start(std::string remote, LeaveHandler onLeave);

    /// Queues one line, its line end included, and starts writing if nothing is in flight.
    /// Past the byte cap the queue is freed and the client dropped.
    void deliver(const std::shared_ptr<const std::string>& line);

    /// True while lines wait in the queue or are being written.
    bool hasPendingWrites() const { return queuedBytes > 0; }
    /// Lines waiting in the queue or being written.
    uint64_t queuedLines() const { return pending.size() + inFlight.size(); }
    /// Lines it had been given but never wrote, once it has gone.
    uint64_t lostLines() const { return lost; }

    const std::string& remote() const { return name; }

    /// The server is going: nobody is told of the client's end any more.
    void detach();
    bool isDetached() const { return detached; }

private:
    void startReading();
    void handleRead(const boost::system::error_code& error);
    /// After the end of the client's input: waits for the connection to fail, which it does
    /// when a client that closed entirely answers the next line, or a keep-alive probe, with
    /// a reset.
    void awaitFailure();
    /// Writes everything queued so far as one batch.
    void startWrite();
    void handleWrite(const boost::system::error_code& error);
    /// Forgets the client: frees its queue, resets the connection and, once, tells the leave
    /// handler.
    void disconnect();

    /// Clients have nothing to say; a read only notices that the connection has ended.
    static constexpr std::size_t readBufferBytes = 256;

    boost::asio::ip::tcp::socket connection;
    std::array<char, readBufferBytes> readBuffer;  ///< whatever the client sends; never looked at
    std::string name;
    LeaveHandler leaveHandler;
    bool detached = false;
    bool closed = false;  ///< dropped: lines are no longer taken

    std::deque<std::shared_ptr<const std::string>> pending;
    std::vector<std::shared_ptr<const std::string>> inFlight;
    std::size_t queuedBytes = 0;  ///< bytes in `pending` and in `inFlight`
    std::size_t inFlightBytes = 0;
    uint64_t lost = 0;
};

}  // namespace keelwave::net
