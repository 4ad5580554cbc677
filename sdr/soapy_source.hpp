#pragma once

#include "sdr/block_assembler.hpp"
#include "sdr/device_samples.hpp"
#include "sdr/rational_resampler.hpp"
#include "sdr/sample_source.hpp"
#include "sdr/tuner_settings.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace SoapySDR {
class Device;
class Stream;
}  // namespace SoapySDR

namespace keelwave::sdr {

/// A receiver reached through SoapySDR (Airspy, HackRF, SDRplay, LimeSDR, an RTL-SDR, a remote
/// SoapySDR server), turned into the tuner stream: its native samples (CS8, CS16 or CF32) in
/// steps of the 8-bit stream, taken down from its rate to 288000 pairs/s by the resampler, as
/// bytes into the ring in the local tuner's blocks, offered: the stream thread never waits for
/// the channels.
///
/// Used like the tuner: construct, `open`, then as a sample source. A device error mid-run
/// ends the stream thread and is reported as the source's end; samples the driver lost mark a
/// gap.
class SoapySource : public SampleSource {
public:
    /// Nothing is opened until `open`. `deviceArgs` selects the device ("driver=airspy");
    /// `pairsPerSecond`, if given, is the rate to ask of it instead of the one chosen.
    SoapySource(std::string deviceArgs, TunerSettings settings,
                std::optional<uint32_t> pairsPerSecond);
    /// Stops the stream thread if `stop` was not called, then closes the stream and device.
    ~SoapySource() override;

    /// Opens the device, picks its rate, tunes it and sets up its stream; writes the tuner
    /// report to standard error. Throws base::StartupError ("SoapySDR ARGS: " and why).
    void open();

protected:
    /// Activates the stream and starts the stream thread.
    void startPublishing() override;
    std::optional<std::string> stopPublishing() override;

private:
    void pickRate();
    void tune();
    void setUpStream();
    void runStream();
    void readToStop();
    /// `pairs` device samples in `raw` into the ring.
    void publish(uint32_t pairs);
    /// The driver lost samples: a WARNING line, at most once a minute.
    void reportOverflow();
    void close();

    const std::string args;
    const TunerSettings settings;
    const std::optional<uint32_t> askedRate;
    SoapySDR::Device* device = nullptr;
    SoapySDR::Stream* stream = nullptr;
    bool active = false;      ///< the stream is activated
    uint32_t deviceRate = 0;  ///< pairs per second
    DeviceFormat format = DeviceFormat::cf32;
    float stepsPerUnit = 1.0f;
    ResamplerDesign design;
    ResamplerState resampler;
    std::vector<uint8_t> raw;      ///< one read's device samples
    std::vector<float> steps;      ///< the same in steps
    std::vector<float> resampled;  ///< at 288000 pairs/s
    std::optional<BlockAssembler> assembler;
    uint64_t overflows = 0;  ///< times the driver lost samples; the stream thread's
    std::chrono::steady_clock::time_point lastOverflowReport;
    std::atomic<bool> stopping{false};
    std::thread thread;  ///< the stream thread
};

/// Writes the SoapySDR devices to `out`, " 0: driver=...,serial=... (label)" a line, or "No
/// SoapySDR devices."
void listSoapyDevices(std::ostream& out);

}  // namespace keelwave::sdr
