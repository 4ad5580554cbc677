#include "app/run_receiver.hpp"

#include "ais/ais_decoder.hpp"
#include "app/sdr_exception.hpp"
#include "app/udp_address.hpp"
#include "net/network_server.hpp"
#include "net/udp_connect.hpp"
#include "sdr/sdr_channel.hpp"
#include "sdr/sdr_device.hpp"

#include <boost/asio/io_service.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/make_shared.hpp>

#include <csignal>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace po = boost::program_options;

namespace {

/// The two AIS channels, 25 kHz either side of the tuner centre.
struct ChannelPlan {
    char letter;
    uint32_t frequency;  // Hz
};
constexpr ChannelPlan aisChannels[] = {{'A', 161975000}, {'B', 162025000}};

/// A tuner whose read could not be cancelled. Its capture thread still runs inside librtlsdr
/// and uses the device, so the device is never destroyed; it is kept reachable here until the
/// process ends, which also tells leak checkers that it is abandoned on purpose.
SdrDevice* abandonedDevice = nullptr;

/// The outputs the decoders write to, released in the order the run ends them: the TCP server
/// first, then the UDP client, which is stopped before its share is dropped.
struct Outputs {
    std::unique_ptr<NetworkServer> server;
    boost::shared_ptr<UdpConnect> udp;

    Outputs() = default;
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;
    ~Outputs() {
        server.reset();
        if (udp) {
            udp->stop();
            udp.reset();
        }
    }
};

/// Starts the TCP server of the `net` option; false after reporting a port that cannot be had.
bool enableServer(boost::asio::io_service& io, const po::variables_map& options, Outputs& outputs) {
    if (!options.count("net")) {
        return true;
    }
    const unsigned int port = options["net"].as<unsigned int>();
    try {
        // A value above 65535 would otherwise be cut to its low 16 bits and quietly listen
        // on another port than the one asked for.
        if (port > std::numeric_limits<unsigned short>::max()) {
            throw std::out_of_range("port");
        }
        outputs.server = enableNetworkServer(io, static_cast<unsigned short>(port));
    } catch (...) {
        std::cerr << "Error enableNetworkServer() on port " << port << std::endl;
        return false;
    }
    return true;
}

/// Starts the UDP client of the `udp` option and its lookup; false after reporting bad text.
bool enableUdp(boost::asio::io_service& io, const po::variables_map& options, Outputs& outputs) {
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
    outputs.udp = boost::make_shared<UdpConnect>(io, address.host, address.port);
    outputs.udp->connect();
    return true;
}

/// Builds the decoder and channel of each AIS channel and hands them to the device.
void addAisChannels(SdrDevice& device, const po::variables_map& options, const Outputs& outputs) {
    const bool console = !options.count("no-console");
    const bool verbose = options.count("verbose") > 0;
    for (const ChannelPlan& plan : aisChannels) {
        auto decoder = std::make_unique<AisDecoder>(plan.letter, verbose);
        decoder->frequency = plan.frequency;
        decoder->networkServer = outputs.server.get();
        decoder->udpClient = outputs.udp;
        decoder->consoleOutput = console;
        device.addChannel(
            std::make_unique<SdrChannel>(static_cast<int32_t>(plan.frequency), std::move(decoder)));
    }
}

void reportError(const std::string& message) {
    std::cerr << "Error: " << message << std::endl;
}

}  // namespace

int runReceiver(po::variables_map& options) {
    boost::asio::io_service io;
    // SIGINT and SIGTERM are caught from the start, so that one arriving while the tuner is
    // still being set up also ends the run in order, with status 0, once the loop runs.
    auto signals = std::make_unique<boost::asio::signal_set>(io, SIGINT, SIGTERM);
    signals->async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
    const unsigned int deviceIndex =
        options.count("device-index") ? options["device-index"].as<unsigned int>() : 0;

    Outputs outputs;
    if (!enableServer(io, options, outputs) || !enableUdp(io, options, outputs)) {
        return 1;
    }

    auto device = std::make_unique<SdrDevice>(deviceIndex);
    try {
        device->open();
        addAisChannels(*device, options, outputs);
        std::optional<int32_t> correction;
        if (options.count("freq-correction")) {
            correction = options["freq-correction"].as<int>();
        }
        std::optional<float> gain;
        if (options.count("gain")) {
            gain = options["gain"].as<float>();
        }
        device->configure(correction, gain);
    } catch (const SdrException& error) {
        device.reset();
        reportError(error.what());
        return 1;
    }

    // A failed capture or channel thread ends the loop like a signal; it is reported below.
    device->setFailureCallback([&io] { io.stop(); });
    device->start();
    std::optional<std::string> loopError;
    try {
        io.run();
    } catch (const std::exception& error) {
        // A handler's exception ends the loop; the run still stops in order.
        loopError = error.what();
    }

    try {
        device->stop();
    } catch (const SdrException& error) {
        signals.reset();
        abandonedDevice = device.release();
        reportError(error.what());
        return 1;
    }
    signals.reset();
    const std::exception_ptr failure = device->failure();
    device.reset();

    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            loopError = error.what();
        } catch (...) {
            loopError = "unknown failure of a receiver thread";
        }
    }
    if (loopError) {
        reportError(*loopError);
        return 1;
    }
    return 0;
}
