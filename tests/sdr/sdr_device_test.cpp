#include "sdr/sdr_device.hpp"

#include "app/sdr_exception.hpp"
#include "tests/sdr/recording_decoder.hpp"
#include "tests/support/child_process.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using testing::Contains;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::Not;

namespace {

constexpr int32_t channelA = 161975000;  // Hz
constexpr int32_t channelB = 162025000;  // Hz

/// The stand-in library's settings; each test starts from these and reopens to apply its own.
const char* const standinVariables[] = {"RTLSDR_STANDIN_DEVICES",  "RTLSDR_STANDIN_NAMES",
                                        "RTLSDR_STANDIN_GAINS",    "RTLSDR_STANDIN_FAIL",
                                        "RTLSDR_STANDIN_INPUT",    "RTLSDR_STANDIN_PACE",
                                        "RTLSDR_STANDIN_REPEAT",   "RTLSDR_STANDIN_TRANSFER",
                                        "RTLSDR_STANDIN_CALL_LOG", "RTLSDR_STANDIN_DONE"};

/// Runs one device against the stand-in tuner library, with its report on standard error and
/// its librtlsdr calls captured.
class SdrDeviceTest : public testing::Test {
protected:
    SdrDeviceTest() {
        for (const char* name : standinVariables) {
            unsetenv(name);
        }
        setenv("RTLSDR_STANDIN_DEVICES", "1", 1);
        setenv("RTLSDR_STANDIN_GAINS", "0,9,496", 1);
        setenv("RTLSDR_STANDIN_CALL_LOG", scratch.path("calls").c_str(), 1);
        format.copyfmt(std::cerr);
        savedBuffer = std::cerr.rdbuf(report.rdbuf());
    }

    ~SdrDeviceTest() override {
        std::cerr.rdbuf(savedBuffer);
        std::cerr.copyfmt(format);
    }

    std::vector<std::string> calls() { return splitLines(readFile(scratch.path("calls"))); }

    /// Adds 'B' then 'A', each with a recording decoder (kept in `decoders`, A first).
    void addChannels(SdrDevice& device) {
        auto decoderB = std::make_unique<RecordingDecoder>();
        auto decoderA = std::make_unique<RecordingDecoder>();
        decoders = {decoderA.get(), decoderB.get()};
        device.addChannel(std::make_unique<SdrChannel>(channelB, std::move(decoderB)));
        device.addChannel(std::make_unique<SdrChannel>(channelA, std::move(decoderA)));
    }

    /// Streams `seconds` of a tone 2400 Hz above channel A's oscillator through the stand-in.
    void streamTone(double seconds) {
        const std::vector<unsigned char> bytes =
            toBytes(complexTone(-22592.0, static_cast<std::size_t>(seconds * tunerSampleRate)));
        std::ofstream(scratch.path("tone.cu8"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        setenv("RTLSDR_STANDIN_INPUT", scratch.path("tone.cu8").c_str(), 1);
        setenv("RTLSDR_STANDIN_PACE", "4", 1);
        setenv("RTLSDR_STANDIN_DONE", scratch.path("done").c_str(), 1);
    }

    /// Installs a failure callback and waits up to 5 s for it.
    std::future<void> watchFailures(SdrDevice& device) {
        auto seen = std::make_shared<std::promise<void>>();
        device.setFailureCallback([seen] { seen->set_value(); });
        return seen->get_future();
    }

    ScratchDirectory scratch;
    std::ostringstream report;
    std::ios format{nullptr};
    std::streambuf* savedBuffer = nullptr;
    std::vector<RecordingDecoder*> decoders;
};

std::string messageOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    }
}

}  // namespace

TEST_F(SdrDeviceTest, OpenOfAMissingDeviceThrowsTheSystemText) {
    setenv("RTLSDR_STANDIN_DEVICES", "0", 1);
    SdrDevice device(0);
    try {
        device.open();
        FAIL() << "no exception";
    } catch (const SdrException& error) {
        EXPECT_STREQ(error.what(), "rtlsdr_open(): No such device");
    }
}

struct ReportCase {
    const char* name;
    std::optional<int32_t> correction;    // ppm
    std::optional<float> gain;            // dB
    std::vector<std::string> extraCalls;  // after the read-backs
    const char* lastLines;
};

class ReportTest : public SdrDeviceTest, public testing::WithParamInterface<ReportCase> {};

TEST_P(ReportTest, TunesAndReportsExactly) {
    const ReportCase& setting = GetParam();
    {
        SdrDevice device(0);
        device.open();
        device.configure(setting.correction, setting.gain);
    }
    EXPECT_EQ(report.str(), std::string("Supported Gains (dB):  0.0 0.9 49.6\n"
                                        "Freq: 162.000 MHz\n") +
                                setting.lastLines);
    std::vector<std::string> expected = {"rtlsdr_open 0", "rtlsdr_set_sample_rate 288000",
                                         "rtlsdr_set_center_freq 162000000"};
    if (setting.correction) {
        expected.push_back("rtlsdr_set_freq_correction " + std::to_string(*setting.correction));
    }
    for (const char* call : {"rtlsdr_get_tuner_gains null", "rtlsdr_get_tuner_gains array",
                             "rtlsdr_get_center_freq", "rtlsdr_get_freq_correction"}) {
        expected.push_back(call);
    }
    expected.insert(expected.end(), setting.extraCalls.begin(), setting.extraCalls.end());
    expected.push_back("rtlsdr_close dev");
    EXPECT_EQ(calls(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ReportTest,
    testing::Values(
        ReportCase{
            "Defaults", std::nullopt, std::nullopt, {}, "Freq Correction: 0 ppm\nGain: Auto\n"},
        ReportCase{"ZeroCorrectionIsStillSent",
                   0,
                   std::nullopt,
                   {},
                   "Freq Correction: 0 ppm\nGain: Auto\n"},
        ReportCase{"GainFloorsToTenths",
                   0,
                   20.75f,
                   {"rtlsdr_set_tuner_gain_mode 1", "rtlsdr_set_tuner_gain 207"},
                   "Freq Correction: 0 ppm\nGain: 20.8 dB\n"},
        ReportCase{"NegativeGainFloorsDown",
                   -3,
                   -0.05f,
                   {"rtlsdr_set_tuner_gain_mode 1", "rtlsdr_set_tuner_gain -1"},
                   "Freq Correction: -3 ppm\nGain: -0.1 dB\n"}),
    [](const testing::TestParamInfo<ReportCase>& setting) { return setting.param.name; });

struct ConfigureFailureCase {
    const char* name;
    const char* fail;   // RTLSDR_STANDIN_FAIL
    const char* gains;  // RTLSDR_STANDIN_GAINS
    std::optional<float> gain;
    const char* message;  // what() starts with this
    const char* report;   // standard error up to the failure
};

class ConfigureFailureTest : public SdrDeviceTest,
                             public testing::WithParamInterface<ConfigureFailureCase> {};

TEST_P(ConfigureFailureTest, ThrowsTheCallNameAndStopsTheReportThere) {
    const ConfigureFailureCase& failure = GetParam();
    setenv("RTLSDR_STANDIN_FAIL", failure.fail, 1);
    setenv("RTLSDR_STANDIN_GAINS", failure.gains, 1);
    SdrDevice device(0);
    device.open();
    try {
        device.configure(0, failure.gain);
        FAIL() << "no exception";
    } catch (const SdrException& error) {
        EXPECT_THAT(error.what(), testing::StartsWith(failure.message));
    }
    EXPECT_EQ(report.str(), failure.report);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ConfigureFailureTest,
    testing::Values(
        ConfigureFailureCase{"SampleRate", "rtlsdr_set_sample_rate=-1:5", "0", std::nullopt,
                             "rtlsdr_set_sample_rate(): Input/output error", ""},
        ConfigureFailureCase{"CentreFrequency", "rtlsdr_set_center_freq=-1:5", "0", std::nullopt,
                             "rtlsdr_set_center_freq(): Input/output error", ""},
        ConfigureFailureCase{"Correction", "rtlsdr_set_freq_correction=-2:22", "0", std::nullopt,
                             "rtlsdr_set_freq_corection(): Invalid argument", ""},
        ConfigureFailureCase{"NoGainsListed", "", "", std::nullopt,
                             "rtlsdr_get_tuner_gains(): ", ""},
        ConfigureFailureCase{"FrequencyReadBack", "rtlsdr_get_center_freq=0:5", "0", std::nullopt,
                             "rtlsdr_get_center_freq(): Input/output error",
                             "Supported Gains (dB):  0.0\nFreq: "},
        ConfigureFailureCase{"GainMode", "rtlsdr_set_tuner_gain_mode=-1:5", "0", 10.0f,
                             "rtlsdr_set_tuner_gain_mode(): Input/output error",
                             "Supported Gains (dB):  0.0\nFreq: 162.000 MHz\nFreq Correction: 0 "
                             "ppm\n"},
        ConfigureFailureCase{"Gain", "rtlsdr_set_tuner_gain=-1:5", "0", 10.0f,
                             "rtlsdr_set_tuner_gain(): Input/output error",
                             "Supported Gains (dB):  0.0\nFreq: 162.000 MHz\nFreq Correction: 0 "
                             "ppm\n"}),
    [](const testing::TestParamInfo<ConfigureFailureCase>& failure) { return failure.param.name; });

TEST_F(SdrDeviceTest, AsksForTheGainsOnlyOnce) {
    SdrDevice device(0);
    device.open();
    EXPECT_THAT(device.supportedGains(), ElementsAre(0, 9, 496));
    EXPECT_THAT(device.supportedGains(), ElementsAre(0, 9, 496));
    const std::vector<std::string> made = calls();
    EXPECT_EQ(std::count(made.begin(), made.end(), "rtlsdr_get_tuner_gains null"), 1);
}

TEST_F(SdrDeviceTest, KeepsChannelsSortedBySignedFrequencyAndStable) {
    SdrDevice device(0);
    addChannels(device);  // B, then A
    auto first = std::make_unique<SdrChannel>(-5, std::make_unique<RecordingDecoder>());
    auto second = std::make_unique<SdrChannel>(-5, std::make_unique<RecordingDecoder>());
    const SdrChannel* firstAdded = first.get();
    device.addChannel(std::move(first));
    device.addChannel(std::move(second));
    const auto& channels = device.channelList();
    ASSERT_EQ(channels.size(), 4u);
    EXPECT_EQ(channels[0].get(), firstAdded);
    EXPECT_EQ(channels[1]->frequency, -5);
    EXPECT_EQ(channels[2]->frequency, channelA);
    EXPECT_EQ(channels[3]->frequency, channelB);
    EXPECT_EQ(channels[2]->demodulator.phaseIncrement, -0.54524088f);
    EXPECT_EQ(channels[3]->demodulator.phaseIncrement, 0.54524088f);
}

TEST_F(SdrDeviceTest, StreamsTheTunerIntoBothChannels) {
    streamTone(1.0);
    SdrDevice device(0);
    device.open();
    addChannels(device);
    device.configure(std::nullopt, std::nullopt);
    device.start();
    ASSERT_TRUE(decoders[0]->waitForCalls(2, 10s));
    ASSERT_TRUE(decoders[1]->waitForCalls(2, 10s));
    device.stop();
    EXPECT_FALSE(device.failure());
    EXPECT_FALSE(device.captureRunning());
    std::vector<int16_t> samples = decoders[0]->samples();
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    EXPECT_NEAR(samples[samples.size() / 2], 1638, 2);  // 2400 Hz / 1.46484375 Hz per unit
    EXPECT_THAT(decoders[0]->counts(), testing::Each(4096));
    EXPECT_THAT(decoders[1]->counts(), testing::Each(4096));
    const std::vector<std::string> made = calls();
    EXPECT_THAT(made, Contains("rtlsdr_reset_buffer"));
    EXPECT_THAT(made, Contains("rtlsdr_read_async 16 102400"));
    EXPECT_THAT(made, Contains("rtlsdr_cancel_async"));
}

struct CaptureFailureCase {
    const char* name;
    const char* fail;  // RTLSDR_STANDIN_FAIL
    const char* message;
};

class CaptureFailureTest : public SdrDeviceTest,
                           public testing::WithParamInterface<CaptureFailureCase> {};

TEST_P(CaptureFailureTest, ReachesTheOwnerAndStopStillSucceeds) {
    setenv("RTLSDR_STANDIN_FAIL", GetParam().fail, 1);
    SdrDevice device(0);
    device.open();
    addChannels(device);
    std::future<void> seen = watchFailures(device);
    device.start();
    ASSERT_EQ(seen.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(messageOf(device.failure()), GetParam().message);
    EXPECT_NO_THROW(device.stop());
    EXPECT_FALSE(device.captureRunning());
    // The read has ended already: librtlsdr would refuse to cancel it.
    EXPECT_THAT(calls(), Not(Contains("rtlsdr_cancel_async")));
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CaptureFailureTest,
    testing::Values(CaptureFailureCase{"ResetBuffer", "rtlsdr_reset_buffer=-1:5",
                                       "rtlsdr_reset_buffer(): Input/output error"},
                    CaptureFailureCase{"ReadAsync", "rtlsdr_read_async=-4:19",
                                       "rtlsdr_read_async(): No such device"}),
    [](const testing::TestParamInfo<CaptureFailureCase>& failure) { return failure.param.name; });

TEST_F(SdrDeviceTest, DecoderFailureOnAChannelThreadReachesTheOwner) {
    streamTone(1.0);
    SdrDevice device(0);
    device.open();
    addChannels(device);
    decoders[1]->onProcess([](int32_t) { throw std::runtime_error("decoder broke"); });
    std::future<void> seen = watchFailures(device);
    device.start();
    ASSERT_EQ(seen.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(messageOf(device.failure()), "decoder broke");
    EXPECT_NO_THROW(device.stop());
}

TEST_F(SdrDeviceTest, FailedCancelStillStopsTheChannelsAndReturnsPromptly) {
    // The stand-in's failing cancel does not cancel: the capture thread stays in its read.
    setenv("RTLSDR_STANDIN_FAIL", "rtlsdr_cancel_async=-1:5", 1);
    SdrDevice device(0);
    device.open();
    addChannels(device);
    device.start();
    const auto before = std::chrono::steady_clock::now();
    try {
        device.stop();
        FAIL() << "no exception";
    } catch (const SdrException& error) {
        EXPECT_STREQ(error.what(), "rtlsdr_cancel_async(): Input/output error");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);  // two channel waits at most
    EXPECT_TRUE(device.captureRunning());
    for (const auto& channel : device.channelList()) {
        EXPECT_FALSE(channel->running());
    }
    // Opening another device makes the stand-in read its settings again: the cancel works now,
    // and a second stop ends the capture thread.
    unsetenv("RTLSDR_STANDIN_FAIL");
    {
        SdrDevice other(0);
        other.open();
    }
    EXPECT_NO_THROW(device.stop());
    EXPECT_FALSE(device.captureRunning());
}

using SdrDeviceDeathTest = SdrDeviceTest;

TEST_F(SdrDeviceDeathTest, DestroyingADeviceWhoseReadCannotBeCancelledEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("RTLSDR_STANDIN_FAIL", "rtlsdr_cancel_async=-1:5", 1);
    EXPECT_DEATH(
        {
            SdrDevice device(0);
            device.open();
            device.start();
        },
        "terminate");
}
