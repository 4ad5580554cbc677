#include "net/mqtt_settings.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace keelwave::net {

namespace {

constexpr int plainPort = 1883;
constexpr int tlsPort = 8883;
constexpr long highestPort = 65535;

/// The text with its %XX escapes replaced by the bytes they stand for.
std::string unescape(const std::string& text) {
    std::string plain;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[at + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[at + 2]))) {
            plain += static_cast<char>(std::stoi(text.substr(at + 1, 2), nullptr, 16));
            at += 2;
        } else if (text[at] == '%') {
            throw std::invalid_argument("a '%' in the user or password must begin %XX");
        } else {
            plain += text[at];
        }
    }
    return plain;
}

int readPort(const std::string& text) {
    char* end = nullptr;
    const long port = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || port < 1 || port > highestPort) {
        throw std::invalid_argument("the port must be a number from 1 to 65535");
    }
    return static_cast<int>(port);
}

/// Splits "HOST[:PORT]" or "[IPv6][:PORT]" into the settings.
void readHostAndPort(const std::string& text, MqttSettings& settings) {
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        in6_addr address;
        if (close == std::string::npos ||
            ::inet_pton(AF_INET6, text.substr(1, close - 1).c_str(), &address) != 1 ||
            (close + 1 < text.size() && text[close + 1] != ':')) {
            throw std::invalid_argument("an IPv6 broker is written [ADDRESS] or [ADDRESS]:PORT");
        }
        settings.host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            settings.port = readPort(text.substr(close + 2));
        }
    } else {
        const auto colon = text.find(':');
        settings.host = text.substr(0, colon);
        if (colon != std::string::npos) {
            settings.port = readPort(text.substr(colon + 1));
        }
    }
    if (settings.host.empty()) {
        throw std::invalid_argument("no broker host");
    }
}

}  // namespace

MqttSettings parseMqttAddress(const std::string& address, bool tls) {
    MqttSettings settings;
    settings.tls = tls;
    settings.port = tls ? tlsPort : plainPort;
    if (address.compare(0, 2, "//") != 0) {
        throw std::invalid_argument("the broker must follow '//'");
    }
    const auto slash = address.find('/', 2);
    std::string authority = address.substr(2, slash - 2);
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = authority.substr(0, at);
        const auto colon = credentials.find(':');
        settings.user = unescape(credentials.substr(0, colon));
        if (colon != std::string::npos) {
            settings.password = unescape(credentials.substr(colon + 1));
        }
        if (settings.user.empty()) {
            throw std::invalid_argument("a password needs a user name");
        }
        authority = authority.substr(at + 1);
    }
    readHostAndPort(authority, settings);
    if (slash != std::string::npos && slash + 1 < address.size()) {
        settings.topic = address.substr(slash + 1);
    }
    checkTopicTemplate(settings.topic);
    return settings;
}

void checkTopicTemplate(const std::string& topic) {
    if (topic.empty()) {
        throw std::invalid_argument("the topic is empty");
    }
    if (topic.find_first_of("+#") != std::string::npos || topic.find('\0') != std::string::npos) {
        throw std::invalid_argument("a topic to publish to has no wildcard (+ or #)");
    }
    for (auto open = topic.find('{'); open != std::string::npos; open = topic.find('{', open + 1)) {
        const auto close = topic.find('}', open);
        const std::string field = topic.substr(open, close - open + 1);
        if (field != "{station}" && field != "{channel}" && field != "{type}" &&
            field != "{mmsi}") {
            throw std::invalid_argument(
                "the topic may hold {station}, {channel}, {type} and "
                "{mmsi}, not " +
                field);
        }
    }
}

std::string fillTopic(const std::string& topic, const std::string& station,
                      const MessageKeys& keys) {
    std::string filled;
    filled.reserve(topic.size() + station.size());
    for (std::size_t at = 0; at < topic.size();) {
        const auto open = topic.find('{', at);
        filled.append(topic, at, open - at);
        if (open == std::string::npos) {
            break;
        }
        const auto close = topic.find('}', open);
        const std::string field = topic.substr(open + 1, close - open - 1);
        if (field == "station") {
            filled += station;
        } else if (field == "channel") {
            filled += keys.channel;
        } else if (field == "type") {
            filled += std::to_string(keys.type);
        } else {
            filled += std::to_string(keys.mmsi);
        }
        at = close + 1;
    }
    return filled;
}

std::string describeBroker(const MqttSettings& settings) {
    const bool v6 = settings.host.find(':') != std::string::npos;
    return std::string(settings.tls ? "mqtts://" : "mqtt://") +
           (v6 ? "[" + settings.host + "]" : settings.host) + ":" + std::to_string(settings.port) +
           "/" + settings.topic;
}

std::string hidePassword(const std::string& text) {
    const auto scheme = text.find("://");
    if (scheme == std::string::npos) {
        return text;
    }
    const auto start = scheme + 3;
    const auto end = text.find_first_of("/,", start);
    const auto at = text.rfind('@', end == std::string::npos ? std::string::npos : end - 1);
    const auto colon = text.find(':', start);
    if (at == std::string::npos || at < start || colon == std::string::npos || colon > at) {
        return text;
    }
    return text.substr(0, colon + 1) + "****" + text.substr(at);
}

}  // namespace keelwave::net
