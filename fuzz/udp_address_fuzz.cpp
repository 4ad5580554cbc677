// The `udp` option's parser fed arbitrary text.
//
// Input: the option's text, bytes as they are (NUL included).
//
// Invariant: Valid exactly when the text has one colon and strtol reads the rest as 1..65535,
// with the text before the colon as host and that number as port; InvalidAddress for any
// other count of colons, InvalidPort otherwise. Text in brackets with more colons, an IPv6
// address, is only parsed: what it means, the end-to-end command-line test checks.
#include "app/udp_address.hpp"
#include "fuzz/invariants.hpp"

#include <algorithm>
#include <cstdlib>

using namespace keelwave::app;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const UdpAddress address = parseUdpAddress(text);
    if (text.rfind('[', 0) == 0 && std::count(text.begin(), text.end(), ':') > 1) {
        return 0;
    }
    UdpAddress expected;
    if (std::count(text.begin(), text.end(), ':') == 1) {
        const std::size_t colon = text.find(':');
        const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
        expected.status = port >= 1 && port <= 65535 ? UdpAddress::Status::Valid
                                                     : UdpAddress::Status::InvalidPort;
        expected.host = text.substr(0, colon);
        expected.port = static_cast<int>(port);
    }
    if (address.status != expected.status ||
        (expected.status == UdpAddress::Status::Valid &&
         (address.host != expected.host || address.port != expected.port))) {
        invariantBroken("the address " + text + " read wrongly");
    }
    return 0;
}
