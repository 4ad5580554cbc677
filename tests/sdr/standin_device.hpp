#pragma once

#include "sdr/sdr_device.hpp"
#include "tests/sdr/recording_decoder.hpp"
#include "tests/support/child_process.hpp"

#include <gtest/gtest.h>

#include <exception>
#include <future>
#include <ios>
#include <sstream>
#include <string>
#include <vector>

/// Runs devices against the stand-in tuner library (linked into the test program), with the
/// tuner report on standard error captured and every librtlsdr call logged. The stand-in reads
/// its settings again at each rtlsdr_open, so each test sets its own before opening.
class SdrDeviceTest : public testing::Test {
protected:
    SdrDeviceTest();
    ~SdrDeviceTest() override;

    /// The librtlsdr calls made so far, one "name arguments" line each.
    std::vector<std::string> calls();

    /// Waits until the capture thread is inside its asynchronous read (only then can the read
    /// be cancelled).
    void waitUntilReading();

    /// Adds 'B' then 'A', each with a recording decoder (kept in `decoders`, A first).
    void addChannels(SdrDevice& device);

    /// Has the stand-in stream `seconds` of a tone 2400 Hz above channel A's oscillator, at
    /// four times real time.
    void streamTone(double seconds);

    /// Installs a failure callback on `device`; the future is ready once it has been called.
    std::future<void> watchFailures(SdrDevice& device);

    ScratchDirectory scratch;
    std::ostringstream report;  ///< what the device wrote to standard error
    std::vector<RecordingDecoder*> decoders;

private:
    std::ios savedFormat{nullptr};
    std::streambuf* savedBuffer = nullptr;
};

/// The text of a kept failure.
std::string messageOf(std::exception_ptr failure);
