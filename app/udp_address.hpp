#pragma once

#include <string>

/// The destination of the `udp` option, "host:port"; the host may be empty (loopback).
struct UdpAddress {
    enum class Status { Valid, InvalidAddress, InvalidPort };

    Status status = Status::InvalidAddress;
    std::string host;
    int port = 0;  ///< 1..65535 when valid
};

/// Splits "host:port" at every colon: exactly two pieces are an address (so an IPv6 literal is
/// not). The port is read like strtol in base 10 — leading blanks, a sign and trailing letters
/// are accepted — and must lie in 1..65535.
UdpAddress parseUdpAddress(const std::string& text);
