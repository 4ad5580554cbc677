#pragma once

#include <boost/asio/io_service.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/program_options/variables_map.hpp>
#include <boost/shared_ptr.hpp>

#include <chrono>
#include <memory>

namespace keelwave::net {
class NetworkServer;
class UdpConnect;
}  // namespace keelwave::net

namespace keelwave::app {

/// The outputs the decoders write to besides the log: the TCP server of the `net` option and
/// the UDP client of the `udp` option, each present only when asked for. They are released in
/// the order the run ends them: the server first, then the UDP client, stopped before its
/// share is dropped.
class ReceiverOutputs {
public:
    explicit ReceiverOutputs(boost::asio::io_service& io);
    ~ReceiverOutputs();
    ReceiverOutputs(const ReceiverOutputs&) = delete;
    ReceiverOutputs& operator=(const ReceiverOutputs&) = delete;

    /// Starts the TCP server if `net` is given; false after reporting a port that cannot be
    /// had on standard error.
    bool enableServer(const boost::program_options::variables_map& options);

    /// Starts the UDP client and its lookup if `udp` is given; false after reporting text that
    /// is not host:port on standard error.
    bool enableUdp(const boost::program_options::variables_map& options);

    net::NetworkServer* server() const { return tcpServer.get(); }
    const boost::shared_ptr<net::UdpConnect>& udp() const { return udpClient; }

    /// On the I/O thread: stops the loop once every line handed to the outputs has left, or
    /// after `limit` if a client does not take its lines.
    void stopWhenDelivered(std::chrono::milliseconds limit);

private:
    bool delivered() const;
    void checkDelivered(std::chrono::steady_clock::time_point giveUp);

    boost::asio::io_service& io;
    std::unique_ptr<net::NetworkServer> tcpServer;
    boost::shared_ptr<net::UdpConnect> udpClient;
    boost::asio::steady_timer deliveryCheck;
};

}  // namespace keelwave::app
