#include "sdr/sdr_device.hpp"

#include "app/sdr_exception.hpp"

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

SdrDevice::SdrDevice(uint32_t index) : capture(std::make_shared<Capture>()), deviceIndex(index) {
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
        throw app::SdrException("rtlsdr_open()");
    }
}

void SdrDevice::configure(std::optional<int32_t> correction, std::optional<float> gain) {
    if (rtlsdr_set_sample_rate(capture->dev, tunerSampleRate) != 0) {
        throw app::SdrException("rtlsdr_set_sample_rate()");
    }
    if (rtlsdr_set_center_freq(capture->dev, tunerCentreFrequency) != 0) {
        throw app::SdrException("rtlsdr_set_center_freq()");
    }
    if (correction && rtlsdr_set_freq_correction(capture->dev, *correction) != 0) {
        throw app::SdrException("rtlsdr_set_freq_corection()");
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
        throw app::SdrException("rtlsdr_get_center_freq()");
    }
    std::cerr << static_cast<float>(tuned) * megahertzPerHertz << " MHz\n";
    std::cerr << "Freq Correction: " << rtlsdr_get_freq_correction(capture->dev) << " ppm\n";

    if (!gain) {
        std::cerr << "Gain: Auto\n";
        return;
    }
    if (rtlsdr_set_tuner_gain_mode(capture->dev, manualGainMode) != 0) {
        throw app::SdrException("rtlsdr_set_tuner_gain_mode()");
    }
    // Floor, not rounding: -0.05 dB asks for -1 tenth. librtlsdr picks the nearest step.
    const int tenths = static_cast<int>(std::floor(*gain * tenthsPerDecibel));
    if (rtlsdr_set_tuner_gain(capture->dev, tenths) != 0) {
        throw app::SdrException("rtlsdr_set_tuner_gain()");
    }
    std::cerr << "Gain: " << std::setprecision(1) << *gain << " dB\n";
}

const std::vector<int>& SdrDevice::supportedGains() {
    if (!gains.empty()) {
        return gains;
    }
    const int count = rtlsdr_get_tuner_gains(capture->dev, nullptr);
    if (count <= 0) {
        throw app::SdrException("rtlsdr_get_tuner_gains()");
    }
    std::vector<int> listed(static_cast<std::size_t>(count));
    if (rtlsdr_get_tuner_gains(capture->dev, listed.data()) != count) {
        throw app::SdrException("rtlsdr_get_tuner_gains()");
    }
    gains = std::move(listed);
    return gains;
}

uint64_t SdrDevice::droppedBlocks() const {
    return capture->slot ? capture->slot->droppedBlocks() : 0;
}

BlockFeed& SdrDevice::prepareFeed(std::size_t readers) {
    capture->slot = std::make_unique<TunerSlot>(readers);
    return *capture->slot;
}

void SdrDevice::startPublishing() {
    bufferCount = tunerBufferCount;
    bufferLength = tunerBufferLength;
    thread = boost::thread(&SdrDevice::runCapture, capture, bufferCount, bufferLength);
}

void SdrDevice::runCapture(const std::shared_ptr<Capture>& capture, uint32_t count,
                           uint32_t length) {
    std::exception_ptr failed;
    try {
        if (rtlsdr_reset_buffer(capture->dev) != 0) {
            throw app::SdrException("rtlsdr_reset_buffer()");
        }
        // A stop that came meanwhile would find no read to cancel: then none is started.
        if (!capture->slot->publicationStopped() &&
            rtlsdr_read_async(capture->dev, &TunerSlot::samplesCallback, capture->slot.get(), count,
                              length) != 0) {
            throw app::SdrException("rtlsdr_read_async()");
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
    capture->slot->stopPublishing();
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
        const app::SdrException refused("rtlsdr_cancel_async()");  // errno as the call left it
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
