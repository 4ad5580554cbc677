#pragma once

#include "net/line_output.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace keelwave::net {

/// The UDP sender of the `udp` option: looks its host up by name and sends each line, ended by
/// CR LF, as one datagram. Everything runs on the I/O thread:
///
///     connect ──► Resolving ──ok──► Ready ──send error──┐
///                  │  fail / timeout                   │
///                  └──────────► Waiting ◄──────────────┘
///                               └ reconnect delay ──► connect
///
/// Lines that arrive while no destination is known are dropped without a word. A host with
/// both kinds of address is sent to over IPv4, one with IPv6 addresses only over IPv6. Always
/// held by std::shared_ptr: pending handlers keep it alive.
class UdpConnect : public LineOutput, public std::enable_shared_from_this<UdpConnect> {
public:
    /// How long a lookup may take, and how long to wait before trying again. The timer runs
    /// on the monotonic clock: a board without a clock chip sets its wall clock at boot.
    static constexpr std::chrono::seconds defaultDelay{15};

    /// Opens the sending socket (IPv4, reopened for IPv6 when the host has only IPv6
    /// addresses); throws boost::system::system_error if it cannot. `host` may be a name, a
    /// numeric address of either kind or empty (the loopback address); the low 16 bits of
    /// `port` are the destination port.
    UdpConnect(boost::asio::io_context& io, const std::string& host, int port,
               std::chrono::steady_clock::duration resolveTimeout = defaultDelay,
               std::chrono::steady_clock::duration reconnectDelay = defaultDelay);
    UdpConnect(const UdpConnect&) = delete;
    UdpConnect& operator=(const UdpConnect&) = delete;

    /// Sends each line, with CR LF, as one datagram if a destination is known, otherwise drops
    /// it; never waits for the network.
    void deliver(const MessageLines& lines) override;
    /// Sends `datagram` as it is if a destination is known, otherwise drops it.
    void send(const std::string& datagram);
    /// Starts looking the host up, bounded by the resolve timeout.
    void connect();
    /// Starts nothing new and cancels the lookup and timer; a second call does nothing.
    void stop() override;

    /// True while datagrams handed to the socket have not been sent yet.
    bool pending() const override { return sendsInFlight > 0; }
    OutputCounts counts() const override;

private:
    void handleResolve(const boost::system::error_code& error,
                       const boost::asio::ip::tcp::resolver::results_type& results);
    /// Makes `address` the destination, on a socket of its protocol; false if none opens.
    bool setDestination(const boost::asio::ip::address& address, boost::system::error_code& error);
    void handleResolveTimeout(const boost::system::error_code& error);
    void scheduleReconnect();
    void handleReconnectTimer(const boost::system::error_code& error);
    void handleSend(const boost::system::error_code& error);

    bool stopped = false;
    int port;
    boost::asio::ip::udp::socket socket;
    boost::asio::ip::tcp::resolver resolver;
    boost::asio::steady_timer timer;  // the resolve timeout, then the reconnect delay
    std::chrono::steady_clock::duration resolveTimeout;
    std::chrono::steady_clock::duration reconnectDelay;
    std::string host;
    boost::asio::ip::udp::endpoint endpoint;
    bool destinationKnown = false;
    unsigned sendsInFlight = 0;
    uint64_t sent = 0;     ///< datagrams the socket took
    uint64_t dropped = 0;  ///< lines dropped while no destination was known, or failed
};

}  // namespace keelwave::net
