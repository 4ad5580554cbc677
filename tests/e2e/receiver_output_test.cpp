// The real binary decoding a recording on the stand-in tuner in real time: every sentence
// reaches the log, a TCP client and the UDP destination, byte for byte the same, and the same
// sentences as decoding the recording as a file.
#include "tests/e2e/receiver_run.hpp"
#include "tests/support/loopback.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <thread>

using testing::Contains;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

namespace {

/// Enough silence before the first burst for the test to connect its TCP client.
const std::vector<std::string> recordingOptions = {"--leading-silence", "2"};
/// The stand-in plays the recording in real time, as a tuner would.
const std::map<std::string, std::string> realTime = {{"RTLSDR_STANDIN_PACE", "1"}};

/// Fewer messages, for the runs that need some traffic rather than every kind of it.
std::string shortSample() {
    return std::string(TEST_DATA_DIR) + "/real-aivdm-short.nmea";
}

/// The sentences of one channel, in the order that channel produced them.
std::vector<std::string> onChannel(const std::vector<std::string>& sentences, char channel) {
    std::vector<std::string> kept;
    std::copy_if(sentences.begin(), sentences.end(), std::back_inserter(kept),
                 [channel](const std::string& sentence) {
                     const auto comma = sentence.find(",A,") != std::string::npos ? 'A' : 'B';
                     return comma == channel;
                 });
    return kept;
}

std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

/// Connects to the receiver's TCP server as soon as it listens.
std::unique_ptr<TestClient> connectWhenListening(unsigned short port) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        try {
            return std::make_unique<TestClient>(port);
        } catch (const std::exception&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return nullptr;
}

std::vector<std::string> tcpLines(TestClient& client) {
    std::string received;
    for (std::string more = client.readAvailable(std::chrono::seconds(2)); !more.empty();
         more = client.readAvailable(std::chrono::milliseconds(200))) {
        received += more;
    }
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = received.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(received.substr(start, end - start));
    }
    return lines;
}

}  // namespace

TEST(ReceiverOutput, EverySentenceReachesTheLogTcpAndUdpByteForByte) {
    ScratchDirectory directory;
    const Recording recording = makeRecording(directory, sampleMessages(), recordingOptions);
    ASSERT_GT(recording.expected.size(), 250u);
    UdpReceiver udp;
    const unsigned short port = freeTcpPort();
    auto standin = realTime;
    standin["RTLSDR_STANDIN_INPUT"] = recording.path;
    ReceiverRun run(
        directory,
        {"--net", std::to_string(port), "--udp", "127.0.0.1:" + std::to_string(udp.port())},
        standin);
    const auto client = connectWhenListening(port);
    ASSERT_TRUE(client);

    std::vector<std::string> datagrams;
    std::thread collector([&] {
        while (const auto datagram = udp.receive(std::chrono::seconds(3))) {
            datagrams.push_back(*datagram);
        }
    });
    ASSERT_TRUE(run.waitUntilDelivered());
    const std::vector<std::string> overTcp = tcpLines(*client);
    collector.join();
    const ProcessResult result = run.stop(SIGTERM);
    EXPECT_EQ(result.status, 0) << result.err;

    const std::vector<std::string> logged = loggedSentences(result.out);
    EXPECT_EQ(sorted(logged), sorted(recording.expected));
    for (char channel : {'A', 'B'}) {
        // Within a channel the order is the order of the air; across channels it may differ.
        EXPECT_EQ(onChannel(overTcp, channel), onChannel(logged, channel));
        std::vector<std::string> udpSentences;
        for (const std::string& datagram : datagrams) {
            ASSERT_EQ(datagram.substr(datagram.size() - 2), "\r\n");
            udpSentences.push_back(datagram.substr(0, datagram.size() - 2));
        }
        EXPECT_EQ(onChannel(udpSentences, channel), onChannel(logged, channel));
    }
}

TEST(ReceiverOutput, NoConsoleStillServesTcpButLogsNoSentence) {
    ScratchDirectory directory;
    const Recording recording = makeRecording(directory, shortSample(), recordingOptions);
    const unsigned short port = freeTcpPort();
    auto standin = realTime;
    standin["RTLSDR_STANDIN_INPUT"] = recording.path;
    ReceiverRun run(directory, {"--net", std::to_string(port), "--no-console"}, standin);
    const auto client = connectWhenListening(port);
    ASSERT_TRUE(client);
    ASSERT_TRUE(run.waitUntilDelivered());
    const std::vector<std::string> overTcp = tcpLines(*client);
    const ProcessResult result = run.stop(SIGTERM);
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(loggedSentences(result.out), IsEmpty());
    EXPECT_THAT(result.out, HasSubstr("INFO     Connected 127.0.0.1:"));
    EXPECT_EQ(sorted(overTcp), sorted(recording.expected));
}

TEST(ReceiverOutput, VerboseReportsBothChannelsLevels) {
    ScratchDirectory directory;
    ReceiverRun run(directory, {"--verbose", "--no-console"},
                    {{"RTLSDR_STANDIN_INPUT", writeSilence(directory, 3)}});
    ASSERT_TRUE(run.waitForOutput("INFO     Channel A Level "));
    ASSERT_TRUE(run.waitForOutput("INFO     Channel B Level "));
    const ProcessResult result = run.stop(SIGINT);
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, HasSubstr(" Gain "));
}

TEST(ReceiverOutput, TheTunerPathGivesTheSameSentencesAsDecodingTheRecordingAsAFile) {
    ScratchDirectory directory;
    std::vector<std::string> options = recordingOptions;
    options.insert(options.end(), {"--snr", "22"});
    const Recording recording = makeRecording(directory, shortSample(), options);
    const ProcessResult offline =
        runProgram(keelwaveBinary(), {"-r", recording.path}, standinEnvironment());
    ASSERT_EQ(offline.status, 0);

    auto standin = realTime;
    standin["RTLSDR_STANDIN_INPUT"] = recording.path;
    ReceiverRun tuner(directory, {"--verbose"}, standin);
    ASSERT_TRUE(tuner.waitUntilDelivered());
    // The last transfer's samples are decoded a moment after delivery.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const ProcessResult live = tuner.stop(SIGTERM);
    ASSERT_EQ(live.status, 0);
    for (char channel : {'A', 'B'}) {
        EXPECT_EQ(onChannel(loggedSentences(live.out), channel),
                  onChannel(loggedSentences(offline.out), channel));
    }
}
