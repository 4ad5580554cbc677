// SIGINT or SIGTERM, picked at random, at random moments of a receiver under load: a looping
// recording, clients that read, churn, reset and send garbage, and a UDP destination that
// either never resolves or takes datagrams on this machine. Every run must end without a hang, with
// status 0 and with nothing on standard error but the tuner report. Each moment is aimed at one
// hand-over of the run: the outputs are up but the tuner is not, the tuner is being set up, the
// capture is starting, a client has just connected, sentences are flowing to the clients.
//
// Environment: KEELWAVE_SHUTDOWN_RUNS sets the runs per moment (default 3, so 15 in all);
// KEELWAVE_SOAK_SEED repeats the random choices of an earlier run, which prints its seed.
#include "tests/e2e/receiver_run.hpp"
#include "tests/soak/soak_load.hpp"
#include "tests/soak/soak_support.hpp"
#include "tests/support/loopback.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <ostream>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

enum class Moment { Listening, TunerOpened, CaptureStarted, ClientConnected, Streaming };

struct MomentCase {
    const char* name;
    Moment moment;
};

void PrintTo(const MomentCase& each, std::ostream* out) {
    *out << each.name;
}

constexpr double defaultRunsPerMoment = 3;
constexpr int churningClients = 8;
constexpr std::size_t readers = 3;
/// A hang, not a target: a stop normally takes one channel wait of 100 ms and a block.
constexpr std::chrono::seconds hangLimit{10};
constexpr std::chrono::seconds startLimit{20};
/// The latest a signal goes out after the moment it aims at.
constexpr int jitterMaxMilliseconds = 3;
constexpr int connectDelayMaxMilliseconds = 500;
constexpr int streamingDelayMaxMilliseconds = 1500;

void sleepMilliseconds(std::mt19937& random, int most) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(0, most)(random)));
}

/// Waits for the moment of `aim` with the load in place; false if it never comes.
bool reachMoment(Moment aim, ReceiverRun& run, unsigned short port,
                 std::vector<std::unique_ptr<ReadingClient>>& clients, std::mt19937& random) {
    switch (aim) {
        case Moment::Listening:
            return true;
        case Moment::TunerOpened:
            return waitForLineIn(run.callLogPath(), "rtlsdr_open", startLimit);
        case Moment::CaptureStarted:
            return run.waitUntilReading(startLimit);
        case Moment::ClientConnected: {
            if (!run.waitUntilReading(startLimit)) {
                return false;
            }
            sleepMilliseconds(random, connectDelayMaxMilliseconds);
            auto latest = SoakClient::tryConnect(port, {});
            if (!latest) {
                return false;
            }
            clients.push_back(std::make_unique<ReadingClient>(std::move(latest)));
            return true;
        }
        case Moment::Streaming: {
            const auto deadline = Clock::now() + startLimit;
            while (clients.front()->lineCount() == 0) {
                if (Clock::now() >= deadline) {
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            sleepMilliseconds(random, streamingDelayMaxMilliseconds);
            return true;
        }
    }
    return false;
}

class ShutdownUnderLoad : public testing::TestWithParam<MomentCase> {};

TEST_P(ShutdownUnderLoad, EndsWithStatusZeroAndOnlyTheTunerReport) {
    const auto runs =
        static_cast<int>(numberFromEnvironment("KEELWAVE_SHUTDOWN_RUNS", defaultRunsPerMoment));
    const unsigned seed = soakSeed();
    SCOPED_TRACE("KEELWAVE_SOAK_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    ScratchDirectory recordingDirectory;
    const Recording recording =
        makeRecording(recordingDirectory, sampleMessages(), {"--leading-silence", "0.2"});

    std::vector<double> shutdownMilliseconds;
    for (int n = 0; n < runs; ++n) {
        const int signalNumber = random() % 2 ? SIGTERM : SIGINT;
        const unsigned short port = freeTcpPort();
        // Half the runs send to a local UDP destination: datagrams are on their way at the stop.
        UdpReceiver udp;
        const bool udpResolves = random() % 2;
        const bool console = random() % 2;
        std::vector<std::string> arguments{
            "--net", std::to_string(port),
            udpResolves ? "--udp=127.0.0.1:" + std::to_string(udp.port()) : unresolvableUdpOption};
        if (!console) {
            arguments.push_back("--no-console");
        }
        SCOPED_TRACE("run " + std::to_string(n) + ", signal " + std::to_string(signalNumber) +
                     (console ? ", with console, " : ", without console, ") + arguments[2]);

        ScratchDirectory directory;
        ReceiverRun run(directory, arguments,
                        {{"RTLSDR_STANDIN_INPUT", recording.path},
                         {"RTLSDR_STANDIN_PACE", std::to_string(soakPace())},
                         {"RTLSDR_STANDIN_REPEAT", "0"}});
        ClientChurn churn(port, churningClients, random());
        ResettingClient resetter(port, random());
        std::vector<std::unique_ptr<ReadingClient>> clients;
        auto first = SoakClient::connectWhenListening(port, {}, startLimit);
        ASSERT_TRUE(first) << "the receiver never listened";
        clients.push_back(std::make_unique<ReadingClient>(std::move(first)));
        std::unique_ptr<SoakClient> neverReads;
        std::unique_ptr<GarbageSender> garbage;
        if (GetParam().moment != Moment::Listening) {
            for (std::size_t more = 1; more < readers; ++more) {
                if (auto client = SoakClient::tryConnect(port, {})) {
                    clients.push_back(std::make_unique<ReadingClient>(std::move(client)));
                }
            }
            neverReads = SoakClient::tryConnect(port, slowReaderOptions());
            garbage = std::make_unique<GarbageSender>(clients.front()->connection(), random());
        }
        ASSERT_TRUE(reachMoment(GetParam().moment, run, port, clients, random));
        sleepMilliseconds(random, jitterMaxMilliseconds);

        const auto signalled = Clock::now();
        const ProcessResult result = run.stop(signalNumber, hangLimit);
        shutdownMilliseconds.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - signalled).count());
        ASSERT_FALSE(result.timedOut) << "no end within " << hangLimit.count() << " s";
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(onlyTunerReport(result.err)) << result.err;
        const ReceiverLog log(result.out);
        for (const std::string& error : log.errors) {
            EXPECT_TRUE(!udpResolves &&
                        error.rfind(std::string("Can't resolve host ") + unresolvableHost, 0) == 0)
                << error;
        }
        garbage.reset();
        for (const auto& client : clients) {
            std::string tail;
            for (const std::string& line : splitNetworkLines(client->finish(), &tail)) {
                EXPECT_TRUE(isWellFormedSentence(line)) << line;
            }
        }
        EXPECT_TRUE(churn.stop().malformed.empty());
        resetter.stop();
        if (HasFatalFailure() || HasNonfatalFailure()) {
            return;
        }
    }
    std::sort(shutdownMilliseconds.begin(), shutdownMilliseconds.end());
    std::cout << "shutdown " << GetParam().name << ": " << runs << " runs, signal to exit median "
              << shutdownMilliseconds[shutdownMilliseconds.size() / 2] << " ms, longest "
              << shutdownMilliseconds.back() << " ms" << std::endl;
}

const MomentCase moments[] = {
    {"AsSoonAsThePortListens", Moment::Listening},
    {"AsTheTunerOpens", Moment::TunerOpened},
    {"AsTheCaptureStarts", Moment::CaptureStarted},
    {"RightAfterAClientConnects", Moment::ClientConnected},
    {"WhileSentencesFlow", Moment::Streaming},
};

INSTANTIATE_TEST_SUITE_P(Moments, ShutdownUnderLoad, testing::ValuesIn(moments),
                         [](const testing::TestParamInfo<MomentCase>& moment) {
                             return std::string(moment.param.name);
                         });

}  // namespace
