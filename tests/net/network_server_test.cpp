#include "net/network_server.hpp"

#include "tests/support/log_capture.hpp"
#include "tests/support/loopback.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/system/system_error.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using testing::ElementsAre;

namespace {

constexpr std::size_t lineBytes = 78;  // the longest sentence, 76 characters, and "\r\n"

// A sentence-sized line that says who sent it and its number, so order can be checked.
std::string numberedLine(int sender, int number) {
    char head[32];
    std::snprintf(head, sizeof head, "!AIVDM,%d,%07d,", sender, number);
    std::string line(head);
    line.resize(lineBytes - 2, 'x');
    return line + "\r\n";
}

std::vector<std::string> splitLines(const std::string& stream) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < stream.size(); at += lineBytes) {
        lines.push_back(stream.substr(at, lineBytes));
    }
    return lines;
}

class NetworkServerTest : public testing::Test {
protected:
    /// Connects a client and waits until the server has taken it in.
    std::unique_ptr<TestClient> connectClient(int receiveBufferBytes = 0) {
        auto client = std::make_unique<TestClient>(server->localPort(), receiveBufferBytes);
        EXPECT_TRUE(log.waitFor("Connected " + client->address()));
        return client;
    }

    /// How many logged lines read exactly `text`.
    std::size_t logged(const std::string& text) {
        const auto texts = log.texts();
        return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
    }

    /// Lets every handler already queued on the I/O thread run.
    void settle() {
        for (int round = 0; round < 3; ++round) {
            ioThread.run([] {});
        }
    }

    // Declared in teardown order reversed: the loop stops before the server goes.
    LogCapture log;
    boost::asio::io_service io;
    std::unique_ptr<NetworkServer> server = enableNetworkServer(io, 0);
    IoThread ioThread{io};
};

TEST_F(NetworkServerTest, ConnectAndDisconnectAreLoggedOnceWithTheSameAddress) {
    auto client = connectClient();
    const std::string address = client->address();
    client->close();
    ASSERT_TRUE(log.waitFor("Disconnected " + address));
    settle();
    EXPECT_THAT(log.texts(), ElementsAre("Connected " + address, "Disconnected " + address));
    EXPECT_NE(log.lines()[0].find("INFO     Connected "), std::string::npos);
}

TEST_F(NetworkServerTest, ClientsGetIdenticalStreamsWithoutGreetingAndTheirInputIsIgnored) {
    auto talker = connectClient();
    auto listener = connectClient();
    talker->send("hello server\r\n");
    talker->send(std::string(1000, 'z'));
    // Neither a greeting nor a reply: nothing arrives until something is broadcast.
    EXPECT_EQ(talker->read(1, std::chrono::milliseconds(200)), "");
    const std::vector<std::string> lines = {numberedLine(0, 1), numberedLine(0, 2), "\r\n"};
    std::string expected;
    for (const auto& line : lines) {
        server->broadcast(line);
        expected += line;
    }
    EXPECT_EQ(talker->read(expected.size()), expected);
    EXPECT_EQ(listener->read(expected.size()), expected);
    EXPECT_EQ(logged("Disconnected " + talker->address()), 0u);
}

TEST_F(NetworkServerTest, BroadcastWithoutClientsLogsNothing) {
    server->broadcast(numberedLine(0, 1));
    settle();
    EXPECT_TRUE(log.texts().empty());
}

TEST_F(NetworkServerTest, ConcurrentBroadcastsReachEveryClientWholeAndInOneOrder) {
    constexpr int senders = 2;
    constexpr int linesPerSender = 2000;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(connectClient());
    }
    std::vector<std::thread> channelThreads;
    for (int sender = 1; sender <= senders; ++sender) {
        channelThreads.emplace_back([this, sender] {
            for (int number = 0; number < linesPerSender; ++number) {
                server->broadcast(numberedLine(sender, number));
            }
        });
    }
    const std::size_t total = senders * linesPerSender * lineBytes;
    std::vector<std::string> streams;
    for (auto& client : clients) {
        streams.push_back(client->read(total));
    }
    for (auto& thread : channelThreads) {
        thread.join();
    }
    ASSERT_EQ(streams[0].size(), total);
    EXPECT_EQ(streams[1], streams[0]);
    EXPECT_EQ(streams[2], streams[0]);
    // Every line is one of ours, whole, and each sender's lines keep their order.
    std::vector<int> next(senders + 1, 0);
    for (const std::string& line : splitLines(streams[0])) {
        int sender = 0;
        int number = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "!AIVDM,%d,%d,", &sender, &number), 2) << line;
        ASSERT_TRUE(sender >= 1 && sender <= senders) << line;
        ASSERT_EQ(line, numberedLine(sender, next[sender]));
        ++next[sender];
    }
}

TEST_F(NetworkServerTest, ResetConnectionMidWriteRemovesOnlyThatClient) {
    // Fewer bytes than the queue cap, so the clients read one after the other in peace.
    constexpr int lineCount = 5000;
    auto first = connectClient();
    auto broken = connectClient();
    auto last = connectClient();
    const std::string brokenAddress = broken->address();
    std::thread channel([this] {
        for (int number = 0; number < lineCount; ++number) {
            server->broadcast(numberedLine(0, number));
        }
    });
    // Most of its lines are still queued or in flight when the reset arrives.
    broken->read(lineBytes * 10);
    broken->reset();
    std::string expected;
    for (int number = 0; number < lineCount; ++number) {
        expected += numberedLine(0, number);
    }
    EXPECT_EQ(first->read(expected.size()), expected);
    EXPECT_EQ(last->read(expected.size()), expected);
    channel.join();
    ASSERT_TRUE(log.waitFor("Disconnected " + brokenAddress));
    settle();
    EXPECT_EQ(logged("Disconnected " + brokenAddress), 1u);
    EXPECT_EQ(logged("Disconnected " + first->address()), 0u);
    EXPECT_EQ(logged("Disconnected " + last->address()), 0u);
}

TEST_F(NetworkServerTest, ClientThatNeverReadsIsDroppedAtTheCapWhileOthersGetEveryLine) {
    // The kernel buffers a few MiB per connection before the queue starts to fill; far more
    // than that plus the cap must never be needed.
    constexpr std::size_t lineLimit = 200000;
    constexpr std::size_t pace = 500;  // lines per round; the healthy reader catches up between
    auto stuck = connectClient(4096);
    auto healthy = connectClient();
    const std::string stuckAddress = stuck->address();
    std::atomic<std::size_t> healthyBytes{0};
    std::atomic<bool> sending{true};
    std::string healthyStream;
    std::thread reader([&] {
        for (;;) {
            const std::string chunk = healthy->readAvailable(std::chrono::milliseconds(50));
            if (chunk.empty() && !sending) {
                break;
            }
            healthyStream += chunk;
            healthyBytes = healthyStream.size();
        }
    });
    std::size_t sent = 0;
    while (sent < lineLimit && logged("Disconnected " + stuckAddress) == 0) {
        for (std::size_t i = 0; i < pace; ++i, ++sent) {
            server->broadcast(numberedLine(0, static_cast<int>(sent)));
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (healthyBytes < sent * lineBytes && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    sending = false;
    reader.join();
    EXPECT_LT(sent, lineLimit);
    EXPECT_TRUE(stuck->waitForClose());
    settle();
    EXPECT_EQ(logged("Disconnected " + stuckAddress), 1u);
    EXPECT_EQ(logged("Disconnected " + healthy->address()), 0u);
    ASSERT_EQ(healthyStream.size(), sent * lineBytes);
    const auto lines = splitLines(healthyStream);
    for (std::size_t number = 0; number < sent; ++number) {
        ASSERT_EQ(lines[number], numberedLine(0, static_cast<int>(number)));
    }
}

TEST_F(NetworkServerTest, TeardownWithClientsConnectedLeavesTheirHandlersHarmless) {
    auto leaving = connectClient();
    auto stuck = connectClient(4096);
    for (int number = 0; number < 20000; ++number) {
        server->broadcast(numberedLine(0, number));  // leaves a write pending on `stuck`
    }
    settle();
    ioThread.stop();
    server.reset();
    const std::size_t linesBefore = log.lines().size();
    // The connections end after the server is gone: their completions must not reach it.
    io.restart();
    IoThread again(io);
    leaving->shutdownSend();
    EXPECT_TRUE(leaving->waitForClose());  // its read saw the end and closed the socket
    stuck->reset();                        // its pending write fails
    for (int round = 0; round < 3; ++round) {
        again.run([] {});
    }
    again.stop();
    EXPECT_EQ(log.lines().size(), linesBefore);
}

TEST(NetworkServer, SecondServerOnTheSamePortFailsAtBind) {
    boost::asio::io_service io;
    auto first = enableNetworkServer(io, 0);
    EXPECT_THROW(enableNetworkServer(io, first->localPort()), boost::system::system_error);
}

}  // namespace
