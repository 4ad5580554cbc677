#pragma once

#include "sdr/sample_handoff.hpp"
#include "sdr/sdr_channel.hpp"

#include <rtl-sdr.h>

#include <boost/thread/thread.hpp>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

/// The tuner is centred between the two AIS channels, 161975000 and 162025000 Hz.
constexpr uint32_t tunerCentreFrequency = 162000000;  // Hz
constexpr uint32_t tunerSampleRate = 288000;          // I/Q pairs per second
/// USB transfers kept in flight by librtlsdr.
constexpr uint32_t tunerBufferCount = 16;
/// Bytes per USB transfer: 51200 I/Q pairs, one transfer about every 177.8 ms.
constexpr uint32_t tunerBufferLength = 102400;

/// One RTL2832U tuner opened through librtlsdr, its channels and the threads that feed them.
///
/// Used in this order: construct, `open`, `addChannel` for each channel, `configure`, `start`,
/// `stop`, destruction. A failed librtlsdr call on the calling thread throws SdrException.
/// A failure on the capture thread or a channel thread ("rtlsdr_read_async()" when the tuner
/// is pulled, or an exception from a decoder) ends only that thread: the first one is kept in
/// `failure` and announced through the callback given to `setFailureCallback`, so that the
/// owner can end the run and report it.
class SdrDevice {
public:
    /// No librtlsdr call is made until `open`.
    explicit SdrDevice(uint32_t deviceIndex);
    /// Stops the threads if `stop` was not called, then closes the tuner. Ends the process
    /// (std::terminate) if the capture thread still cannot be cancelled: everything here is
    /// still in use by it.
    ~SdrDevice();
    SdrDevice(const SdrDevice&) = delete;
    SdrDevice& operator=(const SdrDevice&) = delete;

    void open();

    /// Takes the channel; keeps the channels sorted by ascending frequency (stable) and sets
    /// every channel's oscillator step against the tuner centre.
    void addChannel(std::unique_ptr<SdrChannel> channel);

    /// Tunes the device and writes the tuner report to standard error. Without `correction`
    /// (ppm) no correction is sent; without `gain` (dB) the tuner keeps its automatic gain.
    void configure(std::optional<int32_t> correction, std::optional<float> gain);

    /// The gains the tuner offers, in tenths of a dB, asked of librtlsdr on first use.
    const std::vector<int>& supportedGains();

    /// Called once, on the failing thread, after the first capture or channel failure; set it
    /// before `start`. It should only hand the news to the owner's thread (for example stop
    /// the I/O loop); it must not call `stop` itself.
    void setFailureCallback(std::function<void()> callback);

    /// The first failure of the capture or a channel thread, or null. Safe from any thread.
    std::exception_ptr failure() const;

    /// Starts the channel threads in list order, then the capture thread. If a thread cannot
    /// be created, the threads already started are stopped and the error is thrown.
    void start();

    /// Cancels the read, joins the capture thread, then stops the channels in list order.
    /// If the cancel fails while the capture thread still runs, the channels are still stopped
    /// and joined, then SdrException "rtlsdr_cancel_async()" is thrown and `captureRunning`
    /// stays true: the device must then not be destroyed. Calling `stop` again retries.
    void stop();

    /// True while a started capture thread has not been joined.
    bool captureRunning() const { return thread.joinable(); }

    /// The channels in start and stop order.
    const std::vector<std::unique_ptr<SdrChannel>>& channelList() const { return channels; }

private:
    void runCapture();
    void reportFailure(std::exception_ptr failed);
    void stopChannels();

    rtlsdr_dev_t* dev = nullptr;
    const uint32_t deviceIndex;
    std::vector<int> gains;  ///< tenths of a dB; empty until first asked for
    uint32_t bufferCount = 0;
    uint32_t bufferLength = 0;  ///< bytes
    boost::thread thread;       ///< the capture thread, inside rtlsdr_read_async
    /// Set by the capture thread once it has left librtlsdr for good.
    std::atomic<bool> captureEnded{false};
    SampleHandoff handoff;
    std::vector<std::unique_ptr<SdrChannel>> channels;
    const uint32_t centreFrequency = tunerCentreFrequency;

    mutable std::mutex failureLock;
    std::exception_ptr firstFailure;
    std::function<void()> failureCallback;
};
