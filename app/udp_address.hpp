#pragma once

#include <string>

namespace keelwave::app {

/// The destination of the `udp` option, "host:port" or "[IPv6 address]:port"; the host may be
/// empty (loopback).
struct UdpAddress {
    enum class Status { Valid, InvalidAddress, InvalidPort };

    Status status = Status::InvalidAddress;
    std::string host;  ///< a name or an address, without brackets
    int port = 0;      ///< 1..65535 when valid
};

/// Splits "host:port" at every colon: exactly two pieces are an address. Text with more colons
/// is an address only as an IPv6 address in brackets and one colon, "[::1]:10110" (a zone may
/// follow the address, "[fe80::1%eth0]:10110"); without brackets it is not. The port is read
/// like strtol in base 10 — leading blanks, a sign and trailing letters are accepted — and
/// must lie in 1..65535.
UdpAddress parseUdpAddress(const std::string& text);

}  // namespace keelwave::app
