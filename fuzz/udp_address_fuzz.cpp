// The `udp` destination parser fed arbitrary text.
//
// Input: the text itself.
//
// Invariant, worked out here independently: a text without a colon or with more than one is
// an invalid address; with exactly one, it is valid when strtol (base 10) of the text after the
// colon lies in 1..65535, with that port and the text before the colon as host, and an invalid
// port otherwise.

#include "app/udp_address.hpp"
#include "fuzz/invariant.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr long highestPort = 65535;

const char* statusName(UdpAddress::Status status) {
    switch (status) {
        case UdpAddress::Status::Valid:
            return "Valid";
        case UdpAddress::Status::InvalidAddress:
            return "InvalidAddress";
        case UdpAddress::Status::InvalidPort:
            return "InvalidPort";
    }
    return "unknown";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const UdpAddress address = parseUdpAddress(text);

    UdpAddress::Status expected = UdpAddress::Status::InvalidAddress;
    long port = 0;
    std::string host;
    if (std::count(text.begin(), text.end(), ':') == 1) {
        const std::size_t colon = text.find(':');
        host = text.substr(0, colon);
        const std::string rest = text.substr(colon + 1);
        port = std::strtol(rest.c_str(), nullptr, 10);
        expected = port >= 1 && port <= highestPort ? UdpAddress::Status::Valid
                                                    : UdpAddress::Status::InvalidPort;
    }
    if (address.status != expected) {
        invariantBroken(std::string("status ") + statusName(address.status) + ", expected " +
                        statusName(expected));
    }
    if (expected == UdpAddress::Status::Valid && (address.host != host || address.port != port)) {
        invariantBroken("valid address " + address.host + " port " + std::to_string(address.port) +
                        ", expected " + host + " port " + std::to_string(port));
    }
    return 0;
}
