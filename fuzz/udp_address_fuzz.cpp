// The `udp` option's parser fed arbitrary text.
//
// Input: the option's text, bytes as they are (NUL included).
//
// Invariant: Valid exactly when the text has one colon and strtol reads the rest as 1..65535,
// with the text before the colon as host and that number as port, or when it is "[", an
// address that inet_pton takes as IPv6 (up to a "%zone"), "]:" and a port without colons, that
// address being the host; InvalidAddress for any other text, InvalidPort otherwise.
#include "app/udp_address.hpp"
#include "fuzz/invariants.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

/// The host inside "[host]:port", if the text has that shape with an IPv6 address as host;
/// where the port begins in `portStart`.
bool bracketedIpv6(const std::string& text, std::string& host, std::size_t& portStart) {
    const std::size_t close = text.find("]:");
    if (text.empty() || text[0] != '[' || close == std::string::npos || text.find(']') != close ||
        std::count(text.begin() + close + 2, text.end(), ':') > 0) {
        return false;
    }
    host = text.substr(1, close - 1);
    const std::string address = host.substr(0, host.find('%'));
    in6_addr scratch;
    portStart = close + 2;
    return std::strlen(host.c_str()) == host.size() &&
           inet_pton(AF_INET6, address.c_str(), &scratch) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const UdpAddress address = parseUdpAddress(text);
    UdpAddress expected;
    std::size_t portStart = std::string::npos;
    if (std::count(text.begin(), text.end(), ':') == 1) {
        portStart = text.find(':') + 1;
        expected.host = text.substr(0, portStart - 1);
    } else if (!bracketedIpv6(text, expected.host, portStart)) {
        portStart = std::string::npos;
    }
    if (portStart != std::string::npos) {
        const long port = std::strtol(text.c_str() + portStart, nullptr, 10);
        expected.status = port >= 1 && port <= 65535 ? UdpAddress::Status::Valid
                                                     : UdpAddress::Status::InvalidPort;
        expected.port = static_cast<int>(port);
    }
    if (address.status != expected.status ||
        (expected.status == UdpAddress::Status::Valid &&
         (address.host != expected.host || address.port != expected.port))) {
        invariantBroken("the address " + text + " read wrongly");
    }
    return 0;
}
