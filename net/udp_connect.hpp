#pragma once

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <cstddef>
#include <string>

/// The UDP sender of the `udp` option: looks its host up by name and sends each line as one
/// datagram. Lookup and retry run on the I/O thread:
///
///     connect ──► Resolving ──ok──► Ready ──send error──┐
///                  │  fail / timeout                   │
///                  └──────────► Waiting ◄──────────────┘
///                               └ reconnect delay ──► connect
///
/// Lines that arrive while no destination is known are dropped without a word. Always held by
/// boost::shared_ptr: pending handlers keep it alive.
class UdpConnect : public boost::enable_shared_from_this<UdpConnect> {
public:
    /// How long a lookup may take, and how long to wait before trying again: 15 s each.
    static constexpr long defaultDelaySeconds = 15;

    /// Opens the sending socket; throws boost::system::system_error if it cannot. `host` may
    /// be a name, a numeric address or empty (the loopback address); the low 16 bits of
    /// `port` are the destination port.
    UdpConnect(boost::asio::io_service& io, const std::string& host, int port,
               boost::posix_time::time_duration resolveTimeout =
                   boost::posix_time::seconds(defaultDelaySeconds),
               boost::posix_time::time_duration reconnectDelay =
                   boost::posix_time::seconds(defaultDelaySeconds));
    virtual ~UdpConnect() = default;
    UdpConnect(const UdpConnect&) = delete;
    UdpConnect& operator=(const UdpConnect&) = delete;

    /// Sends `line` as one datagram if a destination is known, otherwise drops it. Any thread;
    /// never waits for the network.
    virtual void send(const std::string& line);
    /// Starts looking the host up, bounded by the resolve timeout. Call on the I/O thread, or
    /// before any thread runs the loop.
    virtual void connect();
    /// Starts nothing new and cancels the lookup and timer; a second call does nothing. Call
    /// on the I/O thread, or when no thread runs the loop.
    virtual void stop();

    /// True while datagrams handed to the socket have not been sent yet.
    bool hasPendingSends() const { return sendsInFlight > 0; }

private:
    void handleResolve(const boost::system::error_code& error,
                       const boost::asio::ip::tcp::resolver::results_type& results);
    void handleResolveTimeout(const boost::system::error_code& error);
    void scheduleReconnect();
    void handleReconnectTimer(const boost::system::error_code& error);
    void handleSend(const boost::system::error_code& error);

    std::atomic<bool> stopped{false};
    int port;
    boost::asio::ip::udp::socket socket;
    boost::asio::ip::tcp::resolver resolver;
    boost::asio::deadline_timer timer;  // the resolve timeout, then the reconnect delay
    boost::posix_time::time_duration resolveTimeout;
    boost::posix_time::time_duration reconnectDelay;
    std::string host;

    // Written on the I/O thread, read by `send` on the channel threads. The lock also keeps
    // two channel threads from starting sends on the socket at the same moment.
    boost::mutex sendLock;
    boost::asio::ip::udp::endpoint endpoint;
    bool ready = false;
    std::atomic<unsigned> sendsInFlight{0};
};
