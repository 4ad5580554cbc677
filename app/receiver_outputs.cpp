#include "app/receiver_outputs.hpp"

#include "app/udp_address.hpp"
#include "base/startup_error.hpp"
#include "net/log_output.hpp"
#include "net/network_server.hpp"
#include "net/udp_connect.hpp"

#include <limits>
#include <string>

namespace keelwave::app {

namespace po = boost::program_options;

namespace {
/// How often the end of a run looks whether the outputs have sent everything.
constexpr std::chrono::milliseconds deliveryCheckInterval{10};
}  // namespace

ReceiverOutputs::ReceiverOutputs(boost::asio::io_context& ioContext)
    : io(ioContext), deliveryCheck(ioContext) {}

ReceiverOutputs::~ReceiverOutputs() {
    for (Output& open : outputs) {
        open.output->stop();
        open.output.reset();
    }
}

void ReceiverOutputs::open(const po::variables_map& options, bool recording) {
    enableServer(options);
    enableUdp(options);
    if (!options.count("no-console")) {
        outputs.push_back({std::make_shared<net::LogOutput>(recording), &nmea});
    }
}

void ReceiverOutputs::enableServer(const po::variables_map& options) {
    if (!options.count("net")) {
        return;
    }
    const unsigned int port = options["net"].as<unsigned int>();
    const auto refused =
        base::StartupError::withLine("Error enableNetworkServer() on port " + std::to_string(port));
    // A value above 65535 would otherwise be cut to its low 16 bits and quietly listen on
    // another port than the one asked for, and 0 would listen on one the system picks and
    // nobody knows.
    if (port == 0 || port > std::numeric_limits<unsigned short>::max()) {
        throw refused;
    }
    try {
        outputs.push_back({net::enableNetworkServer(io, static_cast<unsigned short>(port)), &nmea});
    } catch (const std::exception&) {
        throw refused;
    }
}

void ReceiverOutputs::enableUdp(const po::variables_map& options) {
    if (!options.count("udp")) {
        return;
    }
    const UdpAddress address = parseUdpAddress(options["udp"].as<std::string>());
    auto client = std::make_shared<net::UdpConnect>(io, address.host, address.port);
    client->connect();
    outputs.push_back({client, &nmea});
}

void ReceiverOutputs::connect(MessageHandOff& handOff) {
    for (const Output& open : outputs) {
        handOff.addDestination(*open.format, *open.output);
    }
}

void ReceiverOutputs::stopWhenDelivered(MessageHandOff& handOff, std::chrono::milliseconds limit) {
    checkDelivered(handOff, limit, std::chrono::steady_clock::time_point::max());
}

bool ReceiverOutputs::pending() const {
    for (const Output& open : outputs) {
        if (open.output->pending()) {
            return true;
        }
    }
    return false;
}

void ReceiverOutputs::checkDelivered(MessageHandOff& handOff, std::chrono::milliseconds limit,
                                     std::chrono::steady_clock::time_point giveUp) {
    const auto now = std::chrono::steady_clock::now();
    if (giveUp == std::chrono::steady_clock::time_point::max() && handOff.idle()) {
        giveUp = now + limit;  // every message is with the outputs: the clients' time starts
    }
    if (giveUp != std::chrono::steady_clock::time_point::max() && (!pending() || now >= giveUp)) {
        io.stop();
        return;
    }
    deliveryCheck.expires_after(deliveryCheckInterval);
    deliveryCheck.async_wait(
        [this, &handOff, limit, giveUp](const boost::system::error_code& error) {
            if (!error) {
                checkDelivered(handOff, limit, giveUp);
            }
        });
}

}  // namespace keelwave::app
