// The UDP sender on a machine without a network: in the namespace these tests run in, only the
// loopback interface exists. A receiver on a boat with no connection, feeding a chart program
// on the same machine, must still send it every sentence.
#include "net/udp_connect.hpp"
#include "tests/soak/soak_support.hpp"
#include "tests/support/loopback.hpp"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <ostream>

namespace {

const std::string datagram = "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A\r\n";

struct Destination {
    const char* name;
    const char* host;
};

void PrintTo(const Destination& each, std::ostream* out) {
    *out << each.name;
}

class OfflineUdp : public testing::TestWithParam<Destination> {};

TEST_P(OfflineUdp, LoopbackDestinationResolvesAndReceivesSentences) {
    if (!networkIsolated()) {
        GTEST_SKIP() << "needs a network namespace of its own (root)";
    }
    boost::asio::io_service io;
    UdpReceiver destination;
    const auto client = boost::make_shared<UdpConnect>(io, GetParam().host, destination.port());
    client->connect();
    IoThread loop(io);
    // Lines sent before the lookup has answered are dropped; one of these must arrive.
    std::optional<std::string> received;
    for (int attempt = 0; attempt < 100 && !received; ++attempt) {
        client->send(datagram);
        received = destination.receive(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(received, datagram);
    loop.run([&] { client->stop(); });
}

INSTANTIATE_TEST_SUITE_P(Hosts, OfflineUdp,
                         testing::Values(Destination{"NumericLoopback", "127.0.0.1"},
                                         Destination{"Localhost", "localhost"},
                                         Destination{"EmptyHost", ""}),
                         [](const testing::TestParamInfo<Destination>& destination) {
                             return std::string(destination.param.name);
                         });

}  // namespace
