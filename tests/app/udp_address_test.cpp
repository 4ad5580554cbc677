#include "app/udp_address.hpp"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* text;
    UdpAddress::Status status;
    const char* host;
    int port;
};

const Case cases[] = {
    {"gpsd.local:10110", UdpAddress::Status::Valid, "gpsd.local", 10110},
    {":10110", UdpAddress::Status::Valid, "", 10110},
    {"10.0.0.7:10110x", UdpAddress::Status::Valid, "10.0.0.7", 10110},
    {"host: +2947", UdpAddress::Status::Valid, "host", 2947},
    {"host:65535", UdpAddress::Status::Valid, "host", 65535},
    {"host:1", UdpAddress::Status::Valid, "host", 1},
    {"gpsd.local", UdpAddress::Status::InvalidAddress, "", 0},
    {"a:b:10110", UdpAddress::Status::InvalidAddress, "", 0},
    {"[::1]:10110", UdpAddress::Status::InvalidAddress, "", 0},
    {"", UdpAddress::Status::InvalidAddress, "", 0},
    {"host:", UdpAddress::Status::InvalidPort, "", 0},
    {"host:port", UdpAddress::Status::InvalidPort, "", 0},
    {"host:0", UdpAddress::Status::InvalidPort, "", 0},
    {"host:-10110", UdpAddress::Status::InvalidPort, "", 0},
    {"host:65536", UdpAddress::Status::InvalidPort, "", 0},
    {"host:75646", UdpAddress::Status::InvalidPort, "", 0},       // 65536 + 10110
    {"host:4294967296", UdpAddress::Status::InvalidPort, "", 0},  // 2^32, 0 as an int
    {"host:99999999999999999999", UdpAddress::Status::InvalidPort, "", 0},
};

}  // namespace

TEST(UdpAddress, SplitsHostAndPortAndRefusesWhatCannotBeADestination) {
    for (const Case& c : cases) {
        const UdpAddress address = parseUdpAddress(c.text);
        EXPECT_EQ(address.status, c.status) << c.text;
        if (c.status == UdpAddress::Status::Valid) {
            EXPECT_EQ(address.host, c.host) << c.text;
            EXPECT_EQ(address.port, c.port) << c.text;
        }
    }
}
