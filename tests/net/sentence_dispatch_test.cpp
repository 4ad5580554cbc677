#include "net/sentence_dispatch.hpp"

#include "ais/ais_decoder.hpp"
#include "net/network_server.hpp"
#include "net/udp_connect.hpp"
#include "tests/support/log_capture.hpp"
#include "tests/support/loopback.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include <algorithm>
#include <functional>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const std::string sentence = "!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26";
const std::string wireLine = sentence + "\r\n";

/// A real UDP client that lets a test look around just before each send goes out.
class WatchedUdpConnect : public UdpConnect {
public:
    using UdpConnect::UdpConnect;
    void send(const std::string& text) override {
        if (beforeSend) {
            beforeSend(text);
        }
        UdpConnect::send(text);
    }
    std::function<void(const std::string&)> beforeSend;
};

class SentenceDispatchTest : public testing::Test {
protected:
    void SetUp() override {
        ioThread.run([this] { udp->connect(); });
        decoder.networkServer = server.get();
        decoder.udpClient = udp;
        client = std::make_unique<TestClient>(server->localPort());
        ASSERT_TRUE(log.waitFor("Connected " + client->address()));
        // Probe until the lookup is done: the first probe that arrives shows it.
        for (int attempt = 0; attempt < 500; ++attempt) {
            udp->send("probe\r\n");
            if (receiver.receive(std::chrono::milliseconds(10))) {
                break;
            }
        }
    }

    void TearDown() override {
        ioThread.run([this] { udp->stop(); });
    }

    std::size_t loggedSentences() {
        const auto texts = log.texts();
        return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), sentence));
    }

    LogCapture log;
    UdpReceiver receiver;
    boost::asio::io_service io;
    std::unique_ptr<NetworkServer> server = enableNetworkServer(io, 0);
    boost::shared_ptr<WatchedUdpConnect> udp =
        boost::make_shared<WatchedUdpConnect>(io, "127.0.0.1", receiver.port());
    IoThread ioThread{io};
    std::unique_ptr<TestClient> client;
    AisDecoder decoder{'A', false};
};

TEST_F(SentenceDispatchTest, GoesToTcpThenUdpThenTheLog) {
    std::string tcpBeforeUdp;
    std::size_t loggedBeforeUdp = 0;
    udp->beforeSend = [&](const std::string&) {
        tcpBeforeUdp = client->read(wireLine.size());
        loggedBeforeUdp = loggedSentences();
    };
    dispatchSentence(&decoder, sentence.c_str());
    EXPECT_EQ(tcpBeforeUdp, wireLine);  // n + 2 bytes, no NUL
    EXPECT_EQ(loggedBeforeUdp, 0u);
    EXPECT_EQ(receiver.receive(), wireLine);
    EXPECT_EQ(loggedSentences(), 1u);
    EXPECT_EQ(log.lines().back().substr(25, 9), "INFO     ");
}

TEST_F(SentenceDispatchTest, WithoutConsoleOutputItStillSendsButLogsNothing) {
    decoder.consoleOutput = false;
    dispatchSentence(&decoder, sentence.c_str());
    EXPECT_EQ(client->read(wireLine.size()), wireLine);
    EXPECT_EQ(receiver.receive(), wireLine);
    EXPECT_EQ(loggedSentences(), 0u);
}

TEST_F(SentenceDispatchTest, NullContextDoesNothing) {
    dispatchSentence(nullptr, sentence.c_str());
    EXPECT_EQ(client->read(1, std::chrono::milliseconds(100)), "");
    EXPECT_EQ(receiver.receive(std::chrono::milliseconds(0)), std::nullopt);
    EXPECT_EQ(loggedSentences(), 0u);
}

TEST(SentenceDispatch, WithoutNetworkOutputsOnlyTheLogGetsIt) {
    LogCapture log;
    AisDecoder decoder('B', false);
    dispatchSentence(&decoder, sentence.c_str());
    decoder.consoleOutput = false;
    dispatchSentence(&decoder, sentence.c_str());
    EXPECT_THAT(log.texts(), ElementsAre(sentence));
}

}  // namespace
