#include "sdr/sdr_device.hpp"

#include "app/sdr_exception.hpp"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <thread>
#include <utility>

namespace {

/// librtlsdr's gain mode for a gain chosen by the caller.
constexpr int manualGainMode = 1;
constexpr float tenthsPerDecibel = 10.0f;
constexpr float decibelsPerTenth = 0.1f;
constexpr float megahertzPerHertz = 1e-6f;

}  // namespace

SdrDevice::SdrDevice(uint32_t index) : deviceIndex(index) {}

SdrDevice::~SdrDevice() {
    if (captureRunning() || group.channelsRunning()) {
        try {
            stop();
        } catch (const std::exception&) {
            // Only a cancel that failed again leaves the capture thread running; see below.
        }
    }
    if (captureRunning()) {
        // The capture thread still writes into the hand-off and reads the handle: freeing them
        // under it would corrupt memory, so the process ends here instead.
        std::terminate();
    }
    rtlsdr_close(dev);
}

void SdrDevice::open() {
    if (rtlsdr_open(&dev, deviceIndex) != 0) {
        throw SdrException("rtlsdr_open()");
    }
}

void SdrDevice::configure(std::optional<int32_t> correction, std::optional<float> gain) {
    if (rtlsdr_set_sample_rate(dev, tunerSampleRate) != 0) {
        throw SdrException("rtlsdr_set_sample_rate()");
    }
    if (rtlsdr_set_center_freq(dev, tunerCentreFrequency) != 0) {
        throw SdrException("rtlsdr_set_center_freq()");
    }
    if (correction && rtlsdr_set_freq_correction(dev, *correction) != 0) {
        throw SdrException("rtlsdr_set_freq_corection()");
    }
    const std::vector<int>& listed = supportedGains();
    std::cerr << "Supported Gains (dB): " << std::fixed << std::setprecision(1);
    for (int tenths : listed) {
        std::cerr << " " << static_cast<float>(tenths) * decibelsPerTenth;
    }
    std::cerr << std::endl;

    std::cerr << "Freq: " << std::setprecision(3);
    const uint32_t tuned = rtlsdr_get_center_freq(dev);
    if (tuned == 0) {
        throw SdrException("rtlsdr_get_center_freq()");
    }
    std::cerr << static_cast<float>(tuned) * megahertzPerHertz << " MHz\n";
    std::cerr << "Freq Correction: " << rtlsdr_get_freq_correction(dev) << " ppm\n";

    if (!gain) {
        std::cerr << "Gain: Auto\n";
        return;
    }
    if (rtlsdr_set_tuner_gain_mode(dev, manualGainMode) != 0) {
        throw SdrException("rtlsdr_set_tuner_gain_mode()");
    }
    // Floor, not rounding: -0.05 dB asks for -1 tenth. librtlsdr picks the nearest step.
    const int tenths = static_cast<int>(std::floor(*gain * tenthsPerDecibel));
    if (rtlsdr_set_tuner_gain(dev, tenths) != 0) {
        throw SdrException("rtlsdr_set_tuner_gain()");
    }
    std::cerr << "Gain: " << std::setprecision(1) << *gain << " dB\n";
}

const std::vector<int>& SdrDevice::supportedGains() {
    if (!gains.empty()) {
        return gains;
    }
    const int count = rtlsdr_get_tuner_gains(dev, nullptr);
    if (count <= 0) {
        throw SdrException("rtlsdr_get_tuner_gains()");
    }
    std::vector<int> listed(static_cast<std::size_t>(count));
    if (rtlsdr_get_tuner_gains(dev, listed.data()) != count) {
        throw SdrException("rtlsdr_get_tuner_gains()");
    }
    gains = std::move(listed);
    return gains;
}

void SdrDevice::start() {
    bufferCount = tunerBufferCount;
    bufferLength = tunerBufferLength;
    captureEnded = false;
    group.startChannelsThen([this] { thread = boost::thread(&SdrDevice::runCapture, this); });
}

void SdrDevice::runCapture() {
    std::exception_ptr failed;
    try {
        if (rtlsdr_reset_buffer(dev) != 0) {
            throw SdrException("rtlsdr_reset_buffer()");
        }
        // A stop that came meanwhile would find no read to cancel: then none is started.
        if (!group.handoff().stopping &&
            rtlsdr_read_async(dev, &SampleHandoff::samplesCallback, &group.handoff(), bufferCount,
                              bufferLength) != 0) {
            throw SdrException("rtlsdr_read_async()");
        }
    } catch (...) {
        failed = std::current_exception();
    }
    // Marked before the owner hears of a failure, so that its `stop` knows there is no read
    // left to cancel (librtlsdr refuses to cancel a read that is not running).
    captureEnded = true;
    if (failed) {
        group.reportFailure(failed);
    }
}

void SdrDevice::stop() {
    group.handoff().beginStop();
    if (thread.joinable()) {
        cancelCapture();
        thread.join();
    }
    group.stopChannels();
}

void SdrDevice::cancelCapture() {
    const auto deadline = std::chrono::steady_clock::now() + cancelRetryWindow;
    while (!captureEnded) {
        if (rtlsdr_cancel_async(dev) == 0) {
            return;
        }
        const SdrException refused("rtlsdr_cancel_async()");  // errno as the call left it
        if (captureEnded) {
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // With `stopping` set the capture thread starts no publication, and the channel
            // objects stay alive, so their threads can still end; the hand-off and the handle
            // stay in use until the capture thread does.
            group.stopChannels();
            throw refused;
        }
        std::this_thread::sleep_for(cancelRetryInterval);
    }
}
