// The real binary on the stand-in tuner library: the tuner report, the librtlsdr calls made,
// and every way the start-up and the capture can fail.
#include "tests/e2e/receiver_run.hpp"
#include "tests/support/loopback.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/asio/ip/tcp.hpp>

#include <csignal>

using testing::Contains;
using testing::ElementsAre;
using testing::EndsWith;
using testing::Not;

namespace {

const std::string gainReport =
    "Supported Gains (dB):  0.0 0.9 1.4 2.7 3.7 7.7 8.7 12.5 14.4 15.7 16.6 19.7 20.7 22.9 25.4 "
    "28.0 29.7 32.8 33.8 36.4 37.2 38.6 40.2 42.1 43.4 43.9 44.5 48.0 49.6\n";
const std::string tunerReport = gainReport + "Freq: 162.000 MHz\nFreq Correction: 0 ppm\n";

}  // namespace

TEST(TunerSetup, AutomaticGainMakesNoGainCallAndStopsInOrderOnEitherSignal) {
    for (int signalNumber : {SIGTERM, SIGINT}) {
        ScratchDirectory directory;
        ReceiverRun run(directory, {"--agc"});
        ASSERT_TRUE(run.waitUntilReading());
        const ProcessResult result = run.stop(signalNumber);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, tunerReport + "Gain: Auto\n");
        EXPECT_THAT(
            run.calls(),
            ElementsAre("rtlsdr_open 0", "rtlsdr_set_sample_rate 288000",
                        "rtlsdr_set_center_freq 162000000", "rtlsdr_get_tuner_gains null",
                        "rtlsdr_get_tuner_gains array", "rtlsdr_get_center_freq",
                        "rtlsdr_get_freq_correction", "rtlsdr_reset_buffer",
                        "rtlsdr_read_async 16 102400", "rtlsdr_cancel_async", "rtlsdr_close dev"));
    }
}

TEST(TunerSetup, GainCorrectionAndDeviceIndexReachTheTuner) {
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> calls;  // among the calls made
        std::string reportEnd;
    };
    const std::vector<Case> cases = {
        {{"--gain", "20.75"},
         {"rtlsdr_set_tuner_gain_mode 1", "rtlsdr_set_tuner_gain 207"},
         "Freq Correction: 0 ppm\nGain: 20.8 dB\n"},
        {{"--gain=-0.05"}, {"rtlsdr_set_tuner_gain -1"}, "Gain: -0.1 dB\n"},
        {{"--freq-correction", "0"}, {"rtlsdr_set_freq_correction 0"}, "Gain: Auto\n"},
        {{"--freq-correction", "-12"},
         {"rtlsdr_set_freq_correction -12"},
         "Freq Correction: -12 ppm\nGain: Auto\n"},
        {{"--device-index", "1"}, {"rtlsdr_open 1"}, "Gain: Auto\n"},
    };
    for (const Case& c : cases) {
        ScratchDirectory directory;
        ReceiverRun run(directory, c.arguments, {{"RTLSDR_STANDIN_DEVICES", "2"}});
        ASSERT_TRUE(run.waitForError("Gain: "));
        ASSERT_TRUE(run.waitForError(" dB\n", std::chrono::milliseconds(500)) ||
                    run.waitForError("Auto\n", std::chrono::milliseconds(1)));
        const ProcessResult result = run.stop(SIGTERM);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_THAT(result.err, EndsWith(c.reportEnd));
        for (const std::string& call : c.calls) {
            EXPECT_THAT(run.calls(), Contains(call));
        }
    }
}

TEST(TunerSetup, EachFailedTunerCallEndsTheRunWithItsOwnMessage) {
    struct Case {
        std::vector<std::string> arguments;
        std::string failure;  // RTLSDR_STANDIN_FAIL
        std::string standardError;
    };
    const std::vector<Case> cases = {
        {{"--agc"}, "rtlsdr_open=-1:19", "Error: rtlsdr_open(): No such device\n"},
        {{"--device-index", "3"}, "", "Error: rtlsdr_open(): No such device\n"},
        {{"--agc"},
         "rtlsdr_set_sample_rate=-5:5",
         "Error: rtlsdr_set_sample_rate(): Input/output error\n"},
        {{"--agc"},
         "rtlsdr_set_center_freq=-5:5",
         "Error: rtlsdr_set_center_freq(): Input/output error\n"},
        {{"--freq-correction", "0"},
         "rtlsdr_set_freq_correction=-2:22",
         "Error: rtlsdr_set_freq_corection(): Invalid argument\n"},
        {{"--agc"},
         "rtlsdr_get_tuner_gains=0:5",
         "Error: rtlsdr_get_tuner_gains(): Input/output error\n"},
        {{"--agc"},
         "rtlsdr_get_center_freq=0:5",
         gainReport + "Freq: Error: rtlsdr_get_center_freq(): Input/output error\n"},
        {{"--gain", "10"},
         "rtlsdr_set_tuner_gain_mode=-1:5",
         tunerReport + "Error: rtlsdr_set_tuner_gain_mode(): Input/output error\n"},
        {{"--gain", "10"},
         "rtlsdr_set_tuner_gain=-1:22",
         tunerReport + "Error: rtlsdr_set_tuner_gain(): Invalid argument\n"},
    };
    for (const Case& c : cases) {
        ScratchDirectory directory;
        ReceiverRun run(directory, c.arguments, {{"RTLSDR_STANDIN_FAIL", c.failure}});
        const ProcessResult result = run.wait();
        EXPECT_EQ(result.status, 1) << c.failure;
        EXPECT_EQ(result.err, c.standardError);
        EXPECT_THAT(run.calls(), Not(Contains("rtlsdr_read_async 16 102400"))) << c.failure;
        // The tuner is closed on every path, also when it never opened.
        EXPECT_THAT(run.calls().back(), testing::StartsWith("rtlsdr_close")) << c.failure;
    }
}

TEST(TunerSetup, CaptureFailuresEndTheRunInOrderWithStatusOne) {
    {
        ScratchDirectory directory;
        ReceiverRun run(directory, {"--agc"},
                        {{"RTLSDR_STANDIN_FAIL", "rtlsdr_reset_buffer=-1:19"}});
        const ProcessResult result = run.wait();
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err,
                  tunerReport + "Gain: Auto\nError: rtlsdr_reset_buffer(): No such device\n");
        EXPECT_EQ(run.calls().back(), "rtlsdr_close dev");
    }
    {
        // A tuner pulled out mid-run: the read ends with an error after some samples.
        ScratchDirectory directory;
        const std::string silence = writeSilence(directory, 0.5);
        ReceiverRun run(directory, {"--agc"},
                        {{"RTLSDR_STANDIN_INPUT", silence},
                         {"RTLSDR_STANDIN_FAIL", "rtlsdr_read_async=-1:19"}});
        const ProcessResult result = run.wait();
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.err,
                    EndsWith("Gain: Auto\nError: rtlsdr_read_async(): No such device\n"));
        EXPECT_THAT(run.calls(), Not(Contains("rtlsdr_cancel_async")));
        EXPECT_EQ(run.calls().back(), "rtlsdr_close dev");
    }
}

TEST(TunerSetup, AReadThatCannotBeCancelledStillEndsPromptlyWithStatusOne) {
    ScratchDirectory directory;
    ReceiverRun run(directory, {"--agc"}, {{"RTLSDR_STANDIN_FAIL", "rtlsdr_cancel_async=-1:5"}});
    ASSERT_TRUE(run.waitUntilReading());
    const ProcessResult result = run.stop(SIGTERM);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err,
                EndsWith("Gain: Auto\nError: rtlsdr_cancel_async(): Input/output error\n"));
    // The device is still in use by the capture thread, so it is never closed.
    EXPECT_THAT(run.calls(), Not(Contains("rtlsdr_close dev")));
}

TEST(TunerSetup, OutputOptionsThatCannotWorkAreRefusedBeforeTheTunerIsOpened) {
    boost::asio::io_service io;
    boost::asio::ip::tcp::acceptor taken(
        io, boost::asio::ip::tcp::endpoint(boost::asio::ip::tcp::v4(), 0));
    const std::string takenPort = std::to_string(taken.local_endpoint().port());
    struct Case {
        std::vector<std::string> arguments;
        std::string standardError;
    };
    const std::vector<Case> cases = {
        {{"--net", "70000"}, "Error enableNetworkServer() on port 70000\n"},
        {{"--net", takenPort}, "Error enableNetworkServer() on port " + takenPort + "\n"},
        {{"--udp", "gpsd.local"}, "Invalid address in --udp option gpsd.local\n"},
        {{"--udp", "a:b:10110"}, "Invalid address in --udp option a:b:10110\n"},
        {{"--udp", "[::1]:10110"}, "Invalid address in --udp option [::1]:10110\n"},
        {{"--udp", "gpsd.local:"}, "Invalid port in --udp option gpsd.local:\n"},
        {{"--udp", "gpsd.local:nmea"}, "Invalid port in --udp option gpsd.local:nmea\n"},
        {{"--udp", "gpsd.local:70000"}, "Invalid port in --udp option gpsd.local:70000\n"},
        {{"--net", "70000", "--udp", "x"}, "Error enableNetworkServer() on port 70000\n"},
    };
    for (const Case& c : cases) {
        ScratchDirectory directory;
        ReceiverRun run(directory, c.arguments);
        const ProcessResult result = run.wait();
        EXPECT_EQ(result.status, 1) << c.standardError;
        EXPECT_EQ(result.err, c.standardError);
        EXPECT_THAT(run.calls(), testing::IsEmpty());
    }
}

TEST(TunerSetup, AcceptedUdpAddressesStartTheReceiver) {
    for (const char* address : {"localhost:10110", ":10110", "127.0.0.1:10110x"}) {
        ScratchDirectory directory;
        ReceiverRun run(directory, {"--udp", address});
        ASSERT_TRUE(run.waitForError("Gain: Auto\n")) << address;
        const ProcessResult result = run.stop(SIGTERM);
        EXPECT_EQ(result.status, 0) << address << result.err;
    }
}
