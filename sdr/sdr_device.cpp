#include "sdr/sdr_device.hpp"

#include "base/tuner_stream.hpp"
#include "sdr/sdr_exception.hpp"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <thread>
#include <utility>

namespace keelwave::sdr {

namespace {

/// librtlsdr's gain mode for a gain chosen by the caller.
constexpr int manualGainMode = 1;
constexpr float tenthsPerDecibel = 10.0f;
constexpr float decibelsPerTenth = 0.1f;
constexpr float megahertzPerHertz = 1e-6f;

}  // namespace

SdrDevice::SdrDevice(uint32_t index)
    : SampleSource(tunerRingBlocks, base::tunerTransferBytes),
      capture(std::make_shared<Capture>()),
      deviceIndex(index) {
    capture->owner = this;
}

SdrDevice::~SdrDevice() {
    stop();
    const std::lock_guard<std::mutex> guard(capture->ownerLock);
    capture->owner = nullptr;
    if (thread.joinable()) {
        // Its read could not be cancelled: the thread keeps what it uses and never comes back.
        thread.detach();
    }
}

void SdrDevice::open() {
    if (rtlsdr_open(&capture->dev, deviceIndex) != 0) {
        throw SdrException("rtlsdr_open()");
    }
}

void SdrDevice::configure(std::optional<int32_t> correction, std::optional<float> gain) {
    if (rtlsdr_set_sample_rate(capture->dev, base::tunerPairsPerSecond) != 0) {
        throw SdrException("rtlsdr_set_sample_rate()");
    }
    if (rtlsdr_set_center_freq(capture->dev, base::tunerCentreHz) != 0) {
        throw SdrException("rtlsdr_set_center_freq()");
    }
    if (correction && rtlsdr_set_freq_correction(capture->dev, *correction) != 0) {
        throw SdrException("rtlsdr_set_freq_corection()");
    }
    const std::vector<int>& listed = supportedGains();
    std::cerr << "Supported Gains (dB): " << std::fixed << std::setprecision(1);
    for (int tenths : listed) {
        std::cerr << " " << static_cast<float>(tenths) * decibelsPerTenth;
    }
    std::cerr << std::endl;

    std::cerr << "Freq: " << std::setprecision(3);
    const uint32_t tuned = rtlsdr_get_center_freq(capture->dev);
    if (tuned == 0) {
        throw SdrException("rtlsdr_get_center_freq()");
    }
    std::cerr << static_cast<float>(tuned) * megahertzPerHertz << " MHz\n";
    std::cerr << "Freq Correction: " << rtlsdr_get_freq_correction(capture->dev) << " ppm\n";

    if (!gain) {
        std::cerr << "Gain: Auto\n";
        return;
    }
    if (rtlsdr_set_tuner_gain_mode(capture->dev, manualGainMode) != 0) {
        throw SdrException("rtlsdr_set_tuner_gain_mode()");
    }
    // Floor, not rounding: -0.05 dB asks for -1 tenth. librtlsdr picks the nearest step.
    const int tenths = static_cast<int>(std::floor(*gain * tenthsPerDecibel));
    if (rtlsdr_set_tuner_gain(capture->dev, tenths) != 0) {
        throw SdrException("rtlsdr_set_tuner_gain()");
    }
    std::cerr << "Gain: " << std::setprecision(1) << *gain << " dB\n";
}

const std::vector<int>& SdrDevice::supportedGains() {
    if (!gains.empty()) {
        return gains;
    }
    const int count = rtlsdr_get_tuner_gains(capture->dev, nullptr);
    if (count <= 0) {
        throw SdrException("rtlsdr_get_tuner_gains()");
    }
    std::vector<int> listed(static_cast<std::size_t>(count));
    if (rtlsdr_get_tuner_gains(capture->dev, listed.data()) != count) {
        throw SdrException("rtlsdr_get_tuner_gains()");
    }
    gains = std::move(listed);
    return gains;
}

void SdrDevice::startPublishing() {
    capture->ring = blocks();
    thread = std::thread(&SdrDevice::runCapture, capture);
}

void SdrDevice::samplesCallback(unsigned char* bytes, uint32_t length, void* context) {
    static_cast<BlockRing*>(context)->offer(bytes, length);
}

void SdrDevice::runCapture(const std::shared_ptr<Capture>& capture) {
    std::exception_ptr failed;
    try {
        if (rtlsdr_reset_buffer(capture->dev) != 0) {
            throw SdrException("rtlsdr_reset_buffer()");
        }
        // A stop that came meanwhile would find no read to cancel: then none is started.
        if (!capture->ring->offersStopped() &&
            rtlsdr_read_async(capture->dev, &SdrDevice::samplesCallback, capture->ring.get(),
                              tunerTransferCount, base::tunerTransferBytes) != 0) {
            throw SdrException("rtlsdr_read_async()");
        }
    } catch (...) {
        failed = std::current_exception();
    }
    // Marked before the device hears of a failure, so that its stop knows there is no read
    // left to cancel.
    capture->ended = true;
    if (failed) {
        capture->report(failed);
    }
}

void SdrDevice::Capture::report(std::exception_ptr failed) {
    const std::lock_guard<std::mutex> guard(ownerLock);
    if (owner != nullptr) {
        owner->reportEnd(failed);
    }
}

std::optional<std::string> SdrDevice::stopPublishing() {
    if (!thread.joinable()) {
        return std::nullopt;
    }
    capture->ring->stopOffers();
    if (std::optional<std::string> refused = cancelCapture()) {
        return refused;
    }
    thread.join();
    return std::nullopt;
}

std::optional<std::string> SdrDevice::cancelCapture() {
    constexpr int notRunning = -2;  // librtlsdr's answer while no asynchronous read runs
    const auto giveUp = std::chrono::steady_clock::now() + cancelRetryWindow;
    while (!capture->ended) {
        const int result = rtlsdr_cancel_async(capture->dev);
        if (result == 0) {
            return std::nullopt;
        }
        const SdrException refused("rtlsdr_cancel_async()");  // errno as the call left it
        if (capture->ended) {
            return std::nullopt;
        }
        if (result != notRunning || std::chrono::steady_clock::now() >= giveUp) {
            return std::string(refused.what());
        }
        std::this_thread::sleep_for(cancelRetryInterval);
    }
    return std::nullopt;
}

}  // namespace keelwave::sdr
