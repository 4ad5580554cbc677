// The real binary decoding recordings with --input: a file, standard input and a pipe, to the
// log, TCP and UDP.
#include "tests/e2e/receiver_run.hpp"
#include "tests/support/loopback.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <thread>

using testing::HasSubstr;
using testing::IsEmpty;

namespace {

std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

ProcessResult decodeFile(const std::vector<std::string>& arguments,
                         const std::string& standardInput = "") {
    return runProgram(keelwaveBinary(), arguments, standinEnvironment(), std::chrono::seconds(60),
                      standardInput);
}

}  // namespace

TEST(RecordingInput, AFileAndStandardInputGiveExactlyTheExpectedSentencesAndStatusZero) {
    ScratchDirectory directory;
    const Recording recording = makeRecording(directory, sampleMessages(), {"--snr", "25"});
    ASSERT_GT(recording.expected.size(), 250u);

    const ProcessResult fromFile = decodeFile({"--input", recording.path});
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_THAT(fromFile.err, IsEmpty());  // no tuner report: the tuner is not used
    EXPECT_EQ(sorted(loggedSentences(fromFile.out)), sorted(recording.expected));

    const ProcessResult fromStandardInput = decodeFile({"-r", "-"}, readFile(recording.path));
    EXPECT_EQ(fromStandardInput.status, 0) << fromStandardInput.err;
    EXPECT_EQ(sorted(loggedSentences(fromStandardInput.out)), sorted(recording.expected));
}

TEST(RecordingInput, EndOfInputDeliversEverySentenceToTcpAndUdpBeforeExiting) {
    ScratchDirectory directory;
    const Recording recording = makeRecording(directory, sampleMessages());
    // A named pipe lets the test connect its client before any sample is read.
    const std::string pipe = directory.path("samples.fifo");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    UdpReceiver udp;
    const unsigned short port = freeTcpPort();
    ChildProcess receiver(keelwaveBinary(),
                          {"-r", pipe, "--net", std::to_string(port), "--no-console", "--udp",
                           "127.0.0.1:" + std::to_string(udp.port())},
                          standinEnvironment());
    const int writer = open(pipe.c_str(), O_WRONLY);  // waits for the receiver to open it
    ASSERT_GE(writer, 0);
    TestClient client(port);
    ASSERT_TRUE(
        receiver.waitForOutput("INFO     Connected " + client.address(), std::chrono::seconds(10)));

    std::vector<std::string> datagrams;
    std::thread collector([&] {
        while (const auto datagram = udp.receive(std::chrono::seconds(3))) {
            datagrams.push_back(datagram->substr(0, datagram->size() - 2));
        }
    });
    const std::string samples = readFile(recording.path);
    ASSERT_EQ(write(writer, samples.data(), samples.size()), static_cast<ssize_t>(samples.size()));
    close(writer);

    std::string stream;
    for (std::string more = client.readAvailable(std::chrono::seconds(10)); !more.empty();
         more = client.readAvailable(std::chrono::seconds(10))) {
        stream += more;  // until the receiver closes the connection at its end
    }
    const ProcessResult result = receiver.wait(std::chrono::seconds(10));
    collector.join();
    EXPECT_EQ(result.status, 0) << result.err;

    std::vector<std::string> overTcp;
    for (std::size_t start = 0, end; (end = stream.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        overTcp.push_back(stream.substr(start, end - start));
    }
    EXPECT_EQ(sorted(overTcp), sorted(recording.expected));
    EXPECT_EQ(sorted(datagrams), sorted(recording.expected));
}

TEST(RecordingInput, InputThatCannotBeReadEndsWithItsErrorAndStatusOne) {
    ScratchDirectory directory;
    const ProcessResult missing = decodeFile({"-r", directory.path("nothere.cu8")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "Error: " + directory.path("nothere.cu8") + ": No such file or directory\n");

    // A directory opens but cannot be read: the run starts and then stops in order.
    const ProcessResult unreadable = decodeFile({"-r", directory.path("")});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.err, "Error: " + directory.path("") + ": Is a directory\n");
}

TEST(RecordingInput, ASignalEndsADecodeEarlyWithStatusZero) {
    ScratchDirectory directory;
    const std::string pipe = directory.path("samples.fifo");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ChildProcess receiver(keelwaveBinary(), {"-r", pipe}, standinEnvironment());
    const int writer = open(pipe.c_str(), O_WRONLY);  // never written: the input just waits
    ASSERT_GE(writer, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    receiver.signal(SIGINT);
    const ProcessResult result = receiver.wait(std::chrono::seconds(5));
    close(writer);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, HasSubstr("Keelwave v.20180430"));
}

TEST(RecordingInput, TheBundledRecordingDecodesToItsExpectedSentences) {
    const std::string bundled = std::string(TEST_DATA_DIR) + "/../../data/";
    const ProcessResult result = decodeFile({"--input", bundled + "demo.cu8"});
    EXPECT_EQ(result.status, 0) << result.err;
    // In the order of the air on each channel, so compared as sets across the two.
    EXPECT_EQ(sorted(loggedSentences(result.out)),
              sorted(splitLines(readFile(bundled + "demo.expected.txt"))));
}
