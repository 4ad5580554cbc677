#include "tests/sdr/standin_device.hpp"

#include <cstdlib>
#include <fstream>
#include <iostream>

namespace {

const char* const standinVariables[] = {"RTLSDR_STANDIN_DEVICES",  "RTLSDR_STANDIN_NAMES",
                                        "RTLSDR_STANDIN_GAINS",    "RTLSDR_STANDIN_FAIL",
                                        "RTLSDR_STANDIN_INPUT",    "RTLSDR_STANDIN_PACE",
                                        "RTLSDR_STANDIN_REPEAT",   "RTLSDR_STANDIN_TRANSFER",
                                        "RTLSDR_STANDIN_CALL_LOG", "RTLSDR_STANDIN_DONE"};

}  // namespace

SdrDeviceTest::SdrDeviceTest() {
    for (const char* name : standinVariables) {
        unsetenv(name);
    }
    setenv("RTLSDR_STANDIN_DEVICES", "1", 1);
    setenv("RTLSDR_STANDIN_GAINS", "0,9,496", 1);
    setenv("RTLSDR_STANDIN_CALL_LOG", scratch.path("calls").c_str(), 1);
    savedFormat.copyfmt(std::cerr);
    savedBuffer = std::cerr.rdbuf(report.rdbuf());
}

SdrDeviceTest::~SdrDeviceTest() {
    std::cerr.rdbuf(savedBuffer);
    std::cerr.copyfmt(savedFormat);
}

std::vector<std::string> SdrDeviceTest::calls() {
    return splitLines(readFile(scratch.path("calls")));
}

void SdrDeviceTest::waitUntilReading() {
    ASSERT_TRUE(waitForLineIn(scratch.path("calls"), "rtlsdr_read_async"));
}

void SdrDeviceTest::addChannels(SdrDevice& device) {
    auto decoderB = std::make_unique<RecordingDecoder>();
    auto decoderA = std::make_unique<RecordingDecoder>();
    decoders = {decoderA.get(), decoderB.get()};
    device.addChannel(std::make_unique<SdrChannel>(channelB, std::move(decoderB)));
    device.addChannel(std::make_unique<SdrChannel>(channelA, std::move(decoderA)));
}

void SdrDeviceTest::streamTone(double seconds) {
    const std::vector<unsigned char> bytes =
        toBytes(complexTone(-22592.0, static_cast<std::size_t>(seconds * tunerSampleRate)));
    std::ofstream(scratch.path("tone.cu8"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    setenv("RTLSDR_STANDIN_INPUT", scratch.path("tone.cu8").c_str(), 1);
    setenv("RTLSDR_STANDIN_PACE", "4", 1);
}

std::future<void> SdrDeviceTest::watchFailures(SdrDevice& device) {
    auto seen = std::make_shared<std::promise<void>>();
    device.setFailureCallback([seen] { seen->set_value(); });
    return seen->get_future();
}

std::string messageOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    }
}
