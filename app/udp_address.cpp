#include "app/udp_address.hpp"

#include "base/startup_error.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>

namespace keelwave::app {

namespace {

constexpr long highestPort = 65535;

/// An IPv6 address in text, with or without a zone ("%eth0") after it.
bool isIpv6Address(const std::string& text) {
    in6_addr address;
    return text.find('\0') == std::string::npos &&
           ::inet_pton(AF_INET6, text.substr(0, text.find('%')).c_str(), &address) == 1;
}

/// Where the port begins after the host, or npos if the text before it is no address; fills
/// in the host.
std::size_t readHost(const std::string& text, std::string& host) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        return std::string::npos;
    }
    if (text.find(':', colon + 1) == std::string::npos) {
        host = text.substr(0, colon);
        return colon + 1;
    }
    // More colons than host:port has: only an IPv6 address in brackets (which has at least
    // two of its own, so no text of one colon is read this way) and one colon after them.
    const auto close = text.find(']');
    if (text.front() != '[' || close == std::string::npos || text.compare(close + 1, 1, ":") != 0 ||
        text.find(':', close + 2) != std::string::npos ||
        !isIpv6Address(text.substr(1, close - 1))) {
        return std::string::npos;
    }
    host = text.substr(1, close - 1);
    return close + 2;
}

}  // namespace

UdpAddress parseUdpAddress(const std::string& text) {
    UdpAddress address;
    const std::size_t portStart = readHost(text, address.host);
    if (portStart == std::string::npos) {
        throw base::StartupError::withLine("Invalid address in --udp option " + text);
    }
    // The range is checked on strtol's own result: narrowing first would let 65536 + 10110
    // wrap onto port 10110 and 4294967296 onto 0.
    const long port = std::strtol(text.c_str() + portStart, nullptr, 10);
    if (port < 1 || port > highestPort) {
        throw base::StartupError::withLine("Invalid port in --udp option " + text);
    }
    address.port = static_cast<int>(port);
    return address;
}

}  // namespace keelwave::app
