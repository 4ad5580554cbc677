#include "sdr/sdr_device.hpp"

#include "app/sdr_exception.hpp"
#include "tests/sdr/standin_device.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>

using testing::ElementsAre;

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

void PrintTo(const ReportCase& each, std::ostream* out) {
    *out << each.name;
}

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

void PrintTo(const ConfigureFailureCase& each, std::ostream* out) {
    *out << each.name;
}

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
