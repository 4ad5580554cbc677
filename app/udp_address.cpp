#include "app/udp_address.hpp"

#include <cstdlib>

namespace {
constexpr long highestPort = 65535;
}

UdpAddress parseUdpAddress(const std::string& text) {
    UdpAddress address;
    const auto colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        address.status = UdpAddress::Status::InvalidAddress;
        return address;
    }
    address.host = text.substr(0, colon);
    // The range is checked on strtol's own result: narrowing first would let 65536 + 10110
    // wrap onto port 10110 and 4294967296 onto 0.
    const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
    if (port < 1 || port > highestPort) {
        address.status = UdpAddress::Status::InvalidPort;
        return address;
    }
    address.port = static_cast<int>(port);
    address.status = UdpAddress::Status::Valid;
    return address;
}
