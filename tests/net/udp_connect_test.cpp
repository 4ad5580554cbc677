// The UDP sender: one datagram per line once its destination is known, and the lookup retried
// for as long as it fails.
#include "net/udp_connect.hpp"
#include "tests/support/io_thread.hpp"

#include <boost/asio/post.hpp>

#include <gtest/gtest.h>

namespace keelwave::test {
namespace {

using namespace net;

using boost::asio::ip::udp;

constexpr std::chrono::milliseconds quickRetry{100};
constexpr std::chrono::milliseconds lookupTimeout{500};

TEST(UdpConnect, SendsEachLineAsOneDatagramOnceTheHostIsKnown) {
    for (const char* host : {"127.0.0.1", "", "localhost"}) {
        SCOPED_TRACE(host);
        LogCapture log;
        IoThread loop;
        udp::socket listener(loop.io);
        do {  // an odd port: its lowest bit must reach the destination too
            listener.close();
            listener.open(udp::v4());
            listener.bind({boost::asio::ip::address_v4::loopback(), 0});
        } while (listener.local_endpoint().port() % 2 == 0);
        const auto client = std::make_shared<UdpConnect>(
            loop.io, host, listener.local_endpoint().port(), lookupTimeout, quickRetry);
        boost::asio::post(loop.io, [client] { client->connect(); });  // as before the loop runs
        // Lines sent before the lookup has answered are dropped.
        for (int attempt = 0; attempt < 100 && listener.available() == 0; ++attempt) {
            loop.run([&] { client->deliver({"probe"}); });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        char datagram[100];
        while (listener.available() > 0) {
            listener.receive(boost::asio::buffer(datagram));
        }
        const MessageLines message{"!AIVDM,2,1,0,A,1,0*57", "!AIVDM,2,2,0,A,1,0*54"};
        loop.run([&] { client->deliver(message); });
        for (const std::string& line : message) {
            EXPECT_EQ(std::string(datagram, listener.receive(boost::asio::buffer(datagram))),
                      line + "\r\n");
        }
        std::this_thread::sleep_for(lookupTimeout);  // an answered lookup's timeout never fires
        EXPECT_EQ(log.text(), "");
        loop.stop();
        client->stop();
        client->stop();
        client->deliver({"after the stop"});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(listener.available(), 0u);
    }
}

TEST(UdpConnect, RetriesForAsLongAsTheDestinationFails) {
    struct Case {
        const char* host;
        std::chrono::steady_clock::duration resolveTimeout;
        const char* error;  // logged, its text ended by a line feed of its own, twice
    };
    const Case cases[] = {
        {"no.such.host.invalid", std::chrono::seconds(10),
         "ERROR    Can't resolve host no.such.host.invalid "},
        // The lookup goes through the resolver's thread and the name service: a microsecond
        // runs out first.
        {"no.such.host.invalid", std::chrono::microseconds(1),
         "ERROR    Resolve host no.such.host.invalid timeout\n\n"},
        // Broadcast without SO_BROADCAST: every send fails.
        {"255.255.255.255", std::chrono::seconds(10),
         "ERROR    UDP send error Permission denied\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        LogCapture log;
        IoThread loop;
        const auto client =
            std::make_shared<UdpConnect>(loop.io, c.host, 10110, c.resolveTimeout, quickRetry);
        boost::asio::post(loop.io, [client] { client->connect(); });
        for (int attempt = 0;
             attempt < 100 && !log.waitFor(c.error, 2, std::chrono::milliseconds(20)); ++attempt) {
            loop.run([&] { client->deliver({"line"}); });  // dropped: no destination is known
        }
        EXPECT_TRUE(log.waitFor(c.error, 2));
        EXPECT_TRUE(log.waitFor("INFO     Try resolve in 0 seconds\n", 2));
        loop.stop();
        client->stop();
    }
}

}  // namespace
}  // namespace keelwave::test
