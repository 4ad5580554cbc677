// The UDP sender: one datagram per line once its destination is known, and the lookup retried
// for as long as it fails.
#include "net/udp_connect.hpp"
#include "tests/support/io_thread.hpp"

#include <boost/asio/post.hpp>
#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

namespace keelwave::test {
namespace {

using namespace net;

using boost::asio::ip::udp;

constexpr std::chrono::milliseconds quickRetry{100};

TEST(UdpConnect, SendsEachLineAsOneDatagramOnceTheHostIsKnown) {
    for (const char* host : {"127.0.0.1", "", "localhost"}) {
        SCOPED_TRACE(host);
        IoThread loop;
        udp::socket listener(loop.io);
        do {  // an odd port: its lowest bit must reach the destination too
            listener.close();
            listener.open(udp::v4());
            listener.bind({boost::asio::ip::address_v4::loopback(), 0});
        } while (listener.local_endpoint().port() % 2 == 0);
        const auto client =
            boost::make_shared<UdpConnect>(loop.io, host, listener.local_endpoint().port());
        boost::asio::post(loop.io, [client] { client->connect(); });  // as before the loop runs
        // Lines sent before the lookup has answered are dropped.
        for (int attempt = 0; attempt < 100 && listener.available() == 0; ++attempt) {
            client->send("probe\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        char datagram[100];
        while (listener.available() > 0) {
            listener.receive(boost::asio::buffer(datagram));
        }
        for (const std::string line : {"!AIVDM,1,1,,A,1,0*57\r\n", "!AIVDM,1,1,,B,1,0*54\r\n"}) {
            client->send(line);
            EXPECT_EQ(std::string(datagram, listener.receive(boost::asio::buffer(datagram))), line);
        }
        loop.stop();
        client->stop();
        client->stop();
        client->send("after the stop\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(listener.available(), 0u);
    }
}

TEST(UdpConnect, RetriesTheLookupOfAnUnknownHostForAsLongAsItFails) {
    LogCapture log;
    IoThread loop;
    const auto client = boost::make_shared<UdpConnect>(loop.io, "no.such.host.invalid", 10110,
                                                       std::chrono::seconds(10), quickRetry);
    boost::asio::post(loop.io, [client] { client->connect(); });
    ASSERT_TRUE(log.waitFor("ERROR    Can't resolve host no.such.host.invalid ", 3));
    client->send("dropped\r\n");
    loop.stop();
    client->stop();
    EXPECT_TRUE(log.waitFor("\n\n", 3));  // each error text ends in a line feed of its own
    EXPECT_TRUE(log.waitFor("INFO     Try resolve in 0 seconds\n", 3));
}

TEST(UdpConnect, ALookupThatOutlastsItsTimeoutIsReportedAndRetried) {
    LogCapture log;
    IoThread loop;
    // A lookup goes through the resolver's own thread and the name service: a microsecond runs
    // out first.
    const auto client = boost::make_shared<UdpConnect>(loop.io, "no.such.host.invalid", 10110,
                                                       std::chrono::microseconds(1), quickRetry);
    boost::asio::post(loop.io, [client] { client->connect(); });
    ASSERT_TRUE(log.waitFor("ERROR    Resolve host no.such.host.invalid timeout\n", 2));
    loop.stop();
    client->stop();
    EXPECT_TRUE(log.waitFor("timeout\n\n", 2));  // each text ends in a line feed of its own
    EXPECT_TRUE(log.waitFor("INFO     Try resolve in 0 seconds\n", 2));
}

TEST(UdpConnect, ASendErrorDropsTheDestinationUntilTheNextLookup) {
    LogCapture log;
    IoThread loop;
    // Broadcast without SO_BROADCAST: every send fails.
    const auto client = boost::make_shared<UdpConnect>(loop.io, "255.255.255.255", 10110,
                                                       std::chrono::seconds(10), quickRetry);
    boost::asio::post(loop.io, [client] { client->connect(); });
    for (int attempt = 0; attempt < 100 && log.text().empty(); ++attempt) {
        client->send("line\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(log.waitFor("ERROR    UDP send error Permission denied\n\n"));
    EXPECT_TRUE(log.waitFor("INFO     Try resolve in 0 seconds\n"));
    loop.stop();
    client->stop();
}

}  // namespace
}  // namespace keelwave::test
