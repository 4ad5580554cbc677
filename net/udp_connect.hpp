#pragma once

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace keelwave::net {

/// The UDP sender of the `udp` option: looks its host up by name and sends each line as one
/// datagram. Lookup and retry run on the I/O thread:
///
///     connect ──► Resolving ──ok──► Ready ──send error──┐
///                  │  fail / timeout                   │
///                  └──────────► Waiting ◄──────────────┘
///                               └ reconnect delay ──► connect
///
/// Lines that arrive while no destination is known are dropped without a word. A host with
/// both kinds of address is sent to over IPv4, one with IPv6 addresses only over IPv6. Always
/// held by boost::shared_ptr: pending handlers keep it alive.
class UdpConnect : public boost::enable_shared_from_this<UdpConnect> {
public:
    /// How long a lookup may take, and how long to wait before trying again. The timer runs
    /// on the monotonic clock: a board without a clock chip sets its wall clock at boot.
    static constexpr std::chrono::seconds defaultDelay{15};

    /// Opens the sending socket (IPv4, reopened for IPv6 when the host has only IPv6
    /// addresses); throws boost::system::system_error if it cannot. `host` may be a name, a
    /// numeric address of either kind or empty (the loopback address); the low 16 bits of
    /// `port` are the destination port.
    UdpConnect(boost::asio::io_service& io, const std::string& host, int port,
               std::chrono::steady_clock::duration resolveTimeout = defaultDelay,
               std::chrono::steady_clock::duration reconnectDelay = defaultDelay);
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
    /// Makes `address` the destination, on a socket of its protocol; false if none opens.
    bool setDestination(const boost::asio::ip::address& address, boost::system::error_code& error);
    void handleResolveTimeout(const boost::system::error_code& error);
    void scheduleReconnect();
    void handleReconnectTimer(const boost::system::error_code& error);
    void handleSend(const boost::system::error_code& error);

    std::atomic<bool> stopped{false};
    int port;
    boost::asio::ip::udp::socket socket;
    boost::asio::ip::tcp::resolver resolver;
    boost::asio::steady_timer timer;  // the resolve timeout, then the reconnect delay
    std::chrono::steady_clock::duration resolveTimeout;
    std::chrono::steady_clock::duration reconnectDelay;
    std::string host;

    // Written on the I/O thread, read by `send` on the channel threads. The lock also keeps
    // two channel threads from starting sends on the socket at the same moment, and a send
    // from meeting the socket while it is reopened for another protocol.
    boost::mutex sendLock;
    boost::asio::ip::udp::endpoint endpoint;
    bool ready = false;
    std::atomic<unsigned> sendsInFlight{0};
};

}  // namespace keelwave::net
