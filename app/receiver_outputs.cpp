#include "app/receiver_outputs.hpp"

#include "app/udp_address.hpp"
#include "net/network_server.hpp"
#include "net/udp_connect.hpp"

#include <boost/make_shared.hpp>

#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>

namespace keelwave::app {

namespace po = boost::program_options;

namespace {
/// How often the end of a run looks whether the outputs have sent everything.
constexpr std::chrono::milliseconds deliveryCheckInterval{10};
}  // namespace

ReceiverOutputs::ReceiverOutputs(boost::asio::io_service& ioService)
    : io(ioService), deliveryCheck(ioService) {}

ReceiverOutputs::~ReceiverOutputs() {
    tcpServer.reset();
    if (udpClient) {
        udpClient->stop();
        udpClient.reset();
    }
}

bool ReceiverOutputs::enableServer(const po::variables_map& options) {
    if (!options.count("net")) {
        return true;
    }
    const unsigned int port = options["net"].as<unsigned int>();
    try {
        // A value above 65535 would otherwise be cut to its low 16 bits and quietly listen
        // on another port than the one asked for, and 0 would listen on one the system
        // picks and nobody knows.
        if (port == 0 || port > std::numeric_limits<unsigned short>::max()) {
            throw std::out_of_range("port");
        }
        tcpServer = net::enableNetworkServer(io, static_cast<unsigned short>(port));
    } catch (...) {
        std::cerr << "Error enableNetworkServer() on port " << port << std::endl;
        return false;
    }
    return true;
}

bool ReceiverOutputs::enableUdp(const po::variables_map& options) {
    if (!options.count("udp")) {
        return true;
    }
    const std::string text = options["udp"].as<std::string>();
    const UdpAddress address = parseUdpAddress(text);
    switch (address.status) {
        case UdpAddress::Status::InvalidAddress:
            std::cerr << "Invalid address in --udp option " << text << std::endl;
            return false;
        case UdpAddress::Status::InvalidPort:
            std::cerr << "Invalid port in --udp option " << text << std::endl;
            return false;
        case UdpAddress::Status::Valid:
            break;
    }
    udpClient = boost::make_shared<net::UdpConnect>(io, address.host, address.port);
    udpClient->connect();
    return true;
}

void ReceiverOutputs::stopWhenDelivered(std::chrono::milliseconds limit) {
    checkDelivered(std::chrono::steady_clock::now() + limit);
}

bool ReceiverOutputs::delivered() const {
    return !(tcpServer && tcpServer->hasPendingWrites()) &&
           !(udpClient && udpClient->hasPendingSends());
}

void ReceiverOutputs::checkDelivered(std::chrono::steady_clock::time_point giveUp) {
    if (delivered() || std::chrono::steady_clock::now() >= giveUp) {
        io.stop();
        return;
    }
    deliveryCheck.expires_after(deliveryCheckInterval);
    deliveryCheck.async_wait([this, giveUp](const boost::system::error_code& error) {
        if (!error) {
            checkDelivered(giveUp);
        }
    });
}

}  // namespace keelwave::app
