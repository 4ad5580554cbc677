#pragma once

#include "net/line_output.hpp"
#include "net/network_session.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstddef>
#include <memory>
#include <set>
#include <string>

namespace keelwave::net {

/// Most clients served at once; one more is closed as soon as it is accepted. Far more than a
/// chart table needs, it bounds what stalled clients can hold (100 MiB at their byte cap)
/// and leaves over 900 of the usual 1024 descriptors to the listener, the UDP socket, the
/// tuner and the event loop.
constexpr std::size_t maxClients = 100;

/// The TCP server of the `net` option: accepts IPv4 and IPv6 clients on one port (IPv4 alone
/// where the machine has no IPv6) and writes every line, ended by CR LF, to all of them, up to
/// maxClients. Everything runs on the thread that runs `io`.
class NetworkServer : public LineOutput {
public:
    /// Opens, binds and listens on `port` (0 lets the system choose) of the IPv6 any-address
    /// for both protocols, or of the IPv4 one if that cannot be had, and starts accepting.
    /// Throws boost::system::system_error when the port cannot be had.
    NetworkServer(boost::asio::io_context& io, unsigned short port);
    /// Detaches every client and closes the listener. Call only when no thread runs `io`;
    /// completions that run later never touch the server.
    ~NetworkServer() override;
    NetworkServer(const NetworkServer&) = delete;
    NetworkServer& operator=(const NetworkServer&) = delete;

    /// Queues each line, with CR LF, for every connected client and returns at once.
    void deliver(const MessageLines& lines) override;

    /// True while any client still has lines waiting or being written; the end of an input
    /// waits for this before the run stops.
    bool pending() const override;
    OutputCounts counts() const override;

    /// The port actually listened on.
    unsigned short localPort() const;

private:
    void listen(const boost::asio::ip::tcp::endpoint& endpoint, boost::system::error_code& error);
    void startAccept();
    void handleAccept(const std::shared_ptr<NetworkSession>& client,
                      const boost::system::error_code& error);
    /// Stops accepting for a second after a failure for want of descriptors or memory,
    /// which would otherwise repeat at once for as long as the connection waits.
    void pauseAccepting(const boost::system::error_code& error);
    void removeClient(const std::shared_ptr<NetworkSession>& client);

    boost::asio::io_context& io;
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::steady_timer acceptPause;
    bool acceptFailing = false;  ///< the last accept failed for want of resources
    std::set<std::shared_ptr<NetworkSession>> clients;
    std::shared_ptr<NetworkSession> accepting;  ///< the client of the pending accept
    uint64_t linesDelivered = 0;                ///< lines handed to the clients (each counted once)
    uint64_t droppedLines = 0;                  ///< lines clients that went never received
};

/// Creates the server listening on `port`; a failure to open, bind or listen is thrown.
std::unique_ptr<NetworkServer> enableNetworkServer(boost::asio::io_context& io,
                                                   unsigned short port);

}  // namespace keelwave::net
