#include "app/receiver_outputs.hpp"

#include "app/command_line.hpp"
#include "app/output_target.hpp"
#include "app/udp_address.hpp"
#include "base/startup_error.hpp"
#include "format/formats.hpp"
#include "net/file_output.hpp"
#include "net/log_output.hpp"
#include "net/mqtt_output.hpp"
#include "net/network_server.hpp"
#include "net/tcp_feed.hpp"
#include "net/udp_connect.hpp"

#include <limits>
#include <set>
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

void ReceiverOutputs::open(const po::variables_map& options, bool recording,
                           const format::FormatContext& context) {
    formatContext = context;
    std::vector<OutputTarget> targets;
    if (options.count("output")) {
        for (const std::string& text : options["output"].as<std::vector<std::string>>()) {
            targets.push_back(parseOutputTarget(text));
        }
    }
    std::set<std::string> serverPorts;
    if (options.count("net")) {
        serverPorts.insert(std::to_string(options["net"].as<unsigned int>()));
    }
    for (const OutputTarget& target : targets) {
        if (target.kind == "server" && !serverPorts.insert(target.address).second) {
            throw base::StartupError("two servers on port " + target.address);
        }
    }
    if (options.count("net")) {
        add(openServer(options["net"].as<unsigned int>()), format::defaultFormat);
    }
    if (options.count("udp")) {
        for (const std::string& destination : options["udp"].as<std::vector<std::string>>()) {
            add(openUdp(destination), format::defaultFormat);
        }
    }
    int brokers = 0;
    for (const OutputTarget& target : targets) {
        if (target.kind == "server") {
            add(openServer(static_cast<unsigned int>(std::stoul(target.address))), target.format);
        } else if (target.kind == "udp") {
            add(openUdp(target.address), target.format);
        } else if (target.kind == "tcp") {
            const UdpAddress address = parseUdpAddress(target.address);
            auto feed = std::make_shared<net::TcpFeed>(io, address.host, address.port, recording);
            feed->start();
            add(std::move(feed), target.format);
        } else if (target.kind == "mqtt" || target.kind == "mqtts") {
            add(openMqtt(target, ++brokers, recording), target.format);
        } else {
            add(std::make_shared<net::FileOutput>(target.address, recording), target.format);
        }
    }
    if (!options.count("no-console")) {
        add(std::make_shared<net::LogOutput>(recording), format::defaultFormat);
    }
}

void ReceiverOutputs::add(std::shared_ptr<net::LineOutput> output, const std::string& formatName) {
    std::unique_ptr<format::MessageFormat>& made = formats[formatName];
    if (!made) {
        made = format::makeFormat(formatName, formatContext);
    }
    outputs.push_back({std::move(output), made.get()});
}

std::shared_ptr<net::LineOutput> ReceiverOutputs::openServer(unsigned int port) {
    const auto refused =
        base::StartupError::withLine("Error enableNetworkServer() on port " + std::to_string(port));
    // A value above 65535 would otherwise be cut to its low 16 bits and quietly listen on
    // another port than the one asked for, and 0 would listen on one the system picks and
    // nobody knows.
    if (port == 0 || port > std::numeric_limits<unsigned short>::max()) {
        throw refused;
    }
    try {
        return net::enableNetworkServer(io, static_cast<unsigned short>(port));
    } catch (const std::exception&) {
        throw refused;
    }
}

std::shared_ptr<net::LineOutput> ReceiverOutputs::openUdp(const std::string& destination) {
    const UdpAddress address = parseUdpAddress(destination);
    auto client = std::make_shared<net::UdpConnect>(io, address.host, address.port);
    client->connect();
    return client;
}

std::shared_ptr<net::LineOutput> ReceiverOutputs::openMqtt(const OutputTarget& target, int ordinal,
                                                           bool recording) {
    net::MqttSettings settings = net::parseMqttAddress(target.address, target.kind == "mqtts");
    const auto parameter = [&target](const char* name, const std::string& otherwise) {
        const auto found = target.parameters.find(name);
        return found == target.parameters.end() ? otherwise : found->second;
    };
    settings.qos = parameter("qos", "0") == "1" ? 1 : 0;
    settings.statusTopic = parameter("status", settings.statusTopic);
    settings.caFile = parameter("ca", "");
    // The broker knows a client by its id: the station's name, numbered from the second
    // broker output on so that two of one station never take each other's place.
    const std::string station = formatContext.station;
    const std::string clientId =
        "keelwave-" + station + (ordinal > 1 ? "-" + std::to_string(ordinal) : "");
    try {
        auto output = std::make_shared<net::MqttOutput>(
            io, settings,
            net::MqttOutput::Station{station, clientId, std::string("online ") + versionBanner},
            recording);
        output->start();
        return output;
    } catch (const std::exception& refused) {
        throw base::StartupError(refused.what());
    }
}

void ReceiverOutputs::connect(MessageHandOff& handOff) {
    for (const Output& open : outputs) {
        handOff.addDestination(*open.format, *open.output);
    }
}

void ReceiverOutputs::stopWhenDelivered(MessageHandOff& handOff, std::chrono::milliseconds limit) {
    checkDelivered(handOff, limit, std::chrono::steady_clock::time_point::max());
}

std::vector<net::OutputCounts> ReceiverOutputs::counts() const {
    std::vector<net::OutputCounts> all;
    for (const Output& open : outputs) {
        all.push_back(open.output->counts());
    }
    return all;
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
