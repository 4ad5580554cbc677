#include "app/output_target.hpp"

#include "app/udp_address.hpp"
#include "base/startup_error.hpp"
#include "format/formats.hpp"
#include "net/mqtt_settings.hpp"

#include <boost/program_options/errors.hpp>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace keelwave::app {

namespace po = boost::program_options;

const std::vector<OutputKind> outputKinds = {
    {"server", {}},                       // a TCP server every client of which gets every line
    {"udp", {}},                          // one datagram per line to a host
    {"file", {}},                         // lines appended to a file, or written to standard output
    {"tcp", {}},                          // a connection out to an aggregator, kept up
    {"mqtt", {"qos", "status"}, "json"},  // an MQTT broker, a message per message
    {"mqtts", {"qos", "status", "ca"}, "json"},  // the same over TLS
};

namespace {

constexpr long highestServerPort = 65535;

[[noreturn]] void refuse(const std::string& text, const std::string& why) {
    throw po::error("the argument ('" + text + "') for option '--output' is invalid: " + why);
}

/// Checks the address against what its kind needs.
void checkAddress(const OutputTarget& target) {
    if (target.address.empty()) {
        refuse(target.text, "no address after '" + target.kind + ":'");
    }
    if (target.kind == "server") {
        char* end = nullptr;
        const long port = std::strtol(target.address.c_str(), &end, 10);
        if (*end != '\0' || port < 1 || port > highestServerPort) {
            refuse(target.text, "the port must be a number from 1 to 65535");
        }
    } else if (target.kind == "udp" || target.kind == "tcp") {
        try {
            parseUdpAddress(target.address);
        } catch (const base::StartupError&) {
            refuse(target.text, "the address must be HOST:PORT or [IPv6]:PORT, port 1 to 65535");
        }
    } else if (target.kind == "mqtt" || target.kind == "mqtts") {
        try {
            net::parseMqttAddress(target.address, target.kind == "mqtts");
            const auto status = target.parameters.find("status");
            if (status != target.parameters.end()) {
                net::checkTopicTemplate(status->second);
            }
        } catch (const std::invalid_argument& wrong) {
            refuse(target.text, wrong.what());
        }
        const auto qos = target.parameters.find("qos");
        if (qos != target.parameters.end() && qos->second != "0" && qos->second != "1") {
            refuse(target.text, "qos must be 0 or 1");
        }
    }
}

}  // namespace

OutputTarget parseOutputTarget(const std::string& text) {
    OutputTarget target;
    target.text = net::hidePassword(text);
    const auto colon = text.find(':');
    target.kind = text.substr(0, colon);
    const auto kind =
        std::find_if(outputKinds.begin(), outputKinds.end(),
                     [&](const OutputKind& known) { return known.name == target.kind; });
    if (colon == std::string::npos || kind == outputKinds.end()) {
        refuse(target.text, "the kind must be server:, udp:, file:, tcp:, mqtt:// or mqtts://");
    }
    target.format = kind->format;
    const auto comma = text.find(',', colon);
    target.address = text.substr(colon + 1, comma - colon - 1);
    for (auto at = comma; at != std::string::npos;) {
        const auto next = text.find(',', at + 1);
        const std::string parameter = text.substr(at + 1, next - at - 1);
        const auto equals = parameter.find('=');
        const std::string name = parameter.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : parameter.substr(equals + 1);
        if (name == "format") {
            if (!format::isFormat(value)) {
                refuse(target.text, "the format must be nmea, tagged or json");
            }
            target.format = value;
        } else if (std::count(kind->parameters.begin(), kind->parameters.end(), name) > 0 &&
                   equals != std::string::npos) {
            target.parameters[name] = value;
        } else {
            refuse(target.text, "unknown setting '" + parameter + "'");
        }
        at = next;
    }
    checkAddress(target);
    return target;
}

}  // namespace keelwave::app
