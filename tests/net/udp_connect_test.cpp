#include "net/udp_connect.hpp"

#include "tests/support/log_capture.hpp"
#include "tests/support/loopback.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include <map>
#include <thread>
#include <vector>

using testing::StartsWith;

namespace {

// Short enough that a retry cycle takes milliseconds, and prints as "0 seconds".
const boost::posix_time::time_duration reconnectDelay = boost::posix_time::milliseconds(20);
// Ample for a lookup even under a sanitizer, so only the timeout test ever sees one expire.
const boost::posix_time::time_duration resolveTimeout = boost::posix_time::seconds(10);

// A logger line without its time stamp: the level word and the text.
std::string levelAndText(const std::string& line) {
    constexpr std::size_t stampBytes = 25;  // date, time and two spaces
    return line.size() > stampBytes ? line.substr(stampBytes) : std::string();
}

const std::string unresolvableHost = "keelwave-test.invalid";  // reserved never to resolve

class UdpConnectTest : public testing::Test {
protected:
    boost::shared_ptr<UdpConnect> makeClient(
        const std::string& host, int port,
        boost::posix_time::time_duration timeout = resolveTimeout) {
        return boost::make_shared<UdpConnect>(io, host, port, timeout, reconnectDelay);
    }

    /// Sends probes until one arrives, which shows the lookup has finished. Every probe sent
    /// before that must have been dropped: none of them may turn up later.
    void waitUntilReady(UdpConnect& client) {
        for (int attempt = 0; attempt < 500; ++attempt) {
            const std::string probe = "probe " + std::to_string(attempt) + "\r\n";
            client.send(probe);
            if (const auto datagram = receiver.receive(std::chrono::milliseconds(10))) {
                ASSERT_EQ(*datagram, probe);
                return;
            }
        }
        FAIL() << "the destination was never looked up";
    }

    LogCapture log;
    UdpReceiver receiver;
    boost::asio::io_service io;
};

TEST_F(UdpConnectTest, EachLineIsOneDatagramOfExactlyItsBytes) {
    auto client = makeClient("127.0.0.1", receiver.port());
    client->send("dropped before the lookup\r\n");
    client->connect();
    IoThread ioThread(io);
    waitUntilReady(*client);
    const std::vector<std::string> lines = {"!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26\r\n",
                                            "!AIVDM,1,1,,B,15MgK45P3@G?fl0E`JbR0OwT0@MS,0*4E\r\n",
                                            "\r\n"};
    for (const auto& line : lines) {
        client->send(line);
    }
    for (const auto& line : lines) {
        EXPECT_EQ(receiver.receive(), line);
    }
    EXPECT_EQ(receiver.receive(std::chrono::milliseconds(100)), std::nullopt);
    EXPECT_TRUE(log.texts().empty());
    ioThread.run([&] { client->stop(); });
}

struct LookupCase {
    const char* name;
    const char* host;
};

// Each of these hosts leads to the loopback receiver.
const LookupCase lookupCases[] = {
    {"Numeric", "127.0.0.1"},
    {"Localhost", "localhost"},
    {"Empty", ""},  // no name at all: the lookup yields the loopback address
};

class UdpConnectLookupTest : public UdpConnectTest,
                             public testing::WithParamInterface<LookupCase> {};

std::string lookupCaseName(const testing::TestParamInfo<LookupCase>& param) {
    return param.param.name;
}

TEST_P(UdpConnectLookupTest, HostIsLookedUpAndDatagramsReachIt) {
    auto client = makeClient(GetParam().host, receiver.port());
    client->connect();
    IoThread ioThread(io);
    waitUntilReady(*client);
    client->send("x\r\n");
    EXPECT_EQ(receiver.receive(), "x\r\n");
    EXPECT_TRUE(log.texts().empty());
    ioThread.run([&] { client->stop(); });
}

INSTANTIATE_TEST_SUITE_P(Hosts, UdpConnectLookupTest, testing::ValuesIn(lookupCases),
                         lookupCaseName);

TEST_F(UdpConnectTest, TwoChannelThreadsSendingAtOnceLoseNothing) {
    // Few enough that the receiver's socket buffer holds them all (a datagram costs it ~1 KiB).
    constexpr int linesPerThread = 50;
    auto client = makeClient("127.0.0.1", receiver.port());
    client->connect();
    IoThread ioThread(io);
    waitUntilReady(*client);
    std::vector<std::thread> channels;
    for (const char letter : {'A', 'B'}) {
        channels.emplace_back([&client, letter] {
            for (int number = 0; number < linesPerThread; ++number) {
                client->send(std::string(1, letter) + std::to_string(number) + "\r\n");
            }
        });
    }
    for (auto& thread : channels) {
        thread.join();
    }
    std::map<char, int> next;
    for (int received = 0; received < 2 * linesPerThread; ++received) {
        const auto datagram = receiver.receive();
        ASSERT_TRUE(datagram);
        const char letter = datagram->front();
        EXPECT_EQ(*datagram, std::string(1, letter) + std::to_string(next[letter]++) + "\r\n");
    }
    ioThread.run([&] { client->stop(); });
}

TEST_F(UdpConnectTest, UnresolvableHostIsReportedAndRetried) {
    auto client = makeClient(unresolvableHost, receiver.port());
    client->connect();
    IoThread ioThread(io);
    ASSERT_TRUE(log.waitForCount("Try resolve in 0 seconds", 2));
    client->send("never sent\r\n");
    ioThread.run([&] { client->stop(); });
    // The failure text ends with a line feed of its own, so it spans two physical lines.
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 6u);
    for (std::size_t cycle = 0; cycle < 2; ++cycle) {
        const std::size_t at = cycle * 3;
        EXPECT_THAT(levelAndText(lines[at]),
                    StartsWith("ERROR    Can't resolve host " + unresolvableHost + " "));
        EXPECT_EQ(lines[at + 1], "");
        EXPECT_EQ(levelAndText(lines[at + 2]), "INFO     Try resolve in 0 seconds");
    }
    EXPECT_EQ(receiver.receive(std::chrono::milliseconds(100)), std::nullopt);
}

TEST_F(UdpConnectTest, LookupOutlastingItsTimeoutIsReportedAndRetried) {
    // A lookup goes through the resolver's own thread and the name service, so a timeout of
    // a microsecond nearly always expires first; one retry cycle in which it does is enough.
    auto client = makeClient(unresolvableHost, receiver.port(), boost::posix_time::microseconds(1));
    client->connect();
    IoThread ioThread(io);
    ASSERT_TRUE(log.waitFor("Resolve host " + unresolvableHost + " timeout"));
    ioThread.run([&] { client->stop(); });
    const auto lines = log.lines();
    std::size_t at = 0;
    while (at < lines.size() &&
           levelAndText(lines[at]) != "ERROR    Resolve host " + unresolvableHost + " timeout") {
        ++at;
    }
    ASSERT_LT(at + 2, lines.size());
    EXPECT_EQ(lines[at + 1], "");  // the text's own line feed
    EXPECT_EQ(levelAndText(lines[at + 2]), "INFO     Try resolve in 0 seconds");
}

TEST_F(UdpConnectTest, SendErrorClearsReadyAndLooksTheHostUpAgain) {
    // Port 0 is no destination: the host resolves, but the system refuses every send.
    auto client = makeClient("127.0.0.1", 0);
    client->connect();
    IoThread ioThread(io);
    for (int attempt = 0; attempt < 500; ++attempt) {
        client->send("refused\r\n");
        if (log.waitFor("Try resolve", std::chrono::milliseconds(10))) {
            break;
        }
    }
    ASSERT_TRUE(log.waitForCount("Try resolve in 0 seconds", 1));
    ioThread.run([&] { client->stop(); });
    const auto texts = log.texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_THAT(texts[0], StartsWith("UDP send error "));
    EXPECT_EQ(texts[1], "");
    EXPECT_EQ(texts[2], "Try resolve in 0 seconds");
}

TEST_F(UdpConnectTest, StopTwiceSilencesEveryHandler) {
    auto client = makeClient(unresolvableHost, receiver.port());
    client->connect();
    IoThread ioThread(io);
    ASSERT_TRUE(log.waitFor("Try resolve in 0 seconds"));
    ioThread.run([&] { client->stop(); });
    ioThread.run([&] { client->stop(); });
    const std::size_t linesAtStop = log.lines().size();
    client->send("after stop\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // ten retry periods
    EXPECT_EQ(log.lines().size(), linesAtStop);
    EXPECT_EQ(receiver.receive(std::chrono::milliseconds(0)), std::nullopt);
}

TEST_F(UdpConnectTest, StopBeforeTheLoopRunsLeavesNothingToReport) {
    auto client = makeClient("127.0.0.1", receiver.port());
    client->connect();
    client->stop();
    client->send("after stop\r\n");
    IoThread ioThread(io);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client->send("after stop\r\n");
    EXPECT_TRUE(log.texts().empty());
    EXPECT_EQ(receiver.receive(std::chrono::milliseconds(0)), std::nullopt);
}

}  // namespace
