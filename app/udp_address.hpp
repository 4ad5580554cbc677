#pragma once

#include <string>

namespace keelwave::app {

/// The destination of the `udp` option, "host:port" or "[IPv6 address]:port"; the host may be
/// empty (loopback).
struct UdpAddress {
    std::string host;  ///< a name or an address, without brackets
    int port = 0;      ///< 1..65535
};

/// Splits "host:port" at every colon: exactly two pieces are an address. Text with more colons
/// is an address only as an IPv6 address in brackets and one colon, "[::1]:10110" (a zone may
/// follow the address, "[fe80::1%eth0]:10110"); without brackets it is not. The port is read
/// like strtol in base 10 — leading blanks, a sign and trailing letters are accepted — and
/// must lie in 1..65535. Throws base::StartupError with the line "Invalid address in --udp
/// option " or "Invalid port in --udp option " and the text.
UdpAddress parseUdpAddress(const std::string& text);

}  // namespace keelwave::app
