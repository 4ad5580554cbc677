// The `udp` option's parser fed arbitrary text.
//
// Input: the option's text, bytes as they are (NUL included).
//
// Invariant: read exactly when the text has one colon and strtol reads the rest as 1..65535,
// with the text before the colon as host and that number as port; refused as an invalid
// address for any other count of colons, as an invalid port otherwise. Text in brackets with more
// colons, an IPv6 address, is only parsed: what it means, the end-to-end command-line test checks.
#include "app/udp_address.hpp"
#include "base/startup_error.hpp"
#include "fuzz/invariants.hpp"

#include <algorithm>
#include <cstdlib>

using namespace keelwave::app;

namespace {

/// The address read from `text`, or the start of the line it was refused with.
std::string verdict(const std::string& text) {
    try {
        const UdpAddress address = parseUdpAddress(text);
        return address.host + " port " + std::to_string(address.port);
    } catch (const keelwave::base::StartupError& refused) {
        return refused.line().substr(0, refused.line().find(" in "));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string read = verdict(text);
    if (text.rfind('[', 0) == 0 && std::count(text.begin(), text.end(), ':') > 1) {
        return 0;
    }
    std::string expected = "Invalid address";
    if (std::count(text.begin(), text.end(), ':') == 1) {
        const std::size_t colon = text.find(':');
        const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
        expected = port >= 1 && port <= 65535
                       ? text.substr(0, colon) + " port " + std::to_string(port)
                       : "Invalid port";
    }
    if (read != expected) {
        invariantBroken("the address " + text + " read wrongly");
    }
    return 0;
}
