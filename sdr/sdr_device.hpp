#pragma once

#include "sdr/channel_group.hpp"
#include "sdr/sdr_channel.hpp"

#include <rtl-sdr.h>

#include <boost/thread/thread.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

/// USB transfers kept in flight by librtlsdr.
constexpr uint32_t tunerBufferCount = 16;

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
    void addChannel(std::unique_ptr<SdrChannel> channel) { group.addChannel(std::move(channel)); }

    /// Tunes the device and writes the tuner report to standard error. Without `correction`
    /// (ppm) no correction is sent; without `gain` (dB) the tuner keeps its automatic gain.
    void configure(std::optional<int32_t> correction, std::optional<float> gain);

    /// The gains the tuner offers, in tenths of a dB, asked of librtlsdr on first use.
    const std::vector<int>& supportedGains();

    /// Called once, on the failing thread, after the first capture or channel failure; set it
    /// before `start`. It should only hand the news to the owner's thread (for example stop
    /// the I/O loop); it must not call `stop` itself.
    void setFailureCallback(std::function<void()> callback) {
        group.setFailureCallback(std::move(callback));
    }

    /// The first failure of the capture or a channel thread, or null. Safe from any thread.
    std::exception_ptr failure() const { return group.failure(); }

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
    const std::vector<std::unique_ptr<SdrChannel>>& channelList() const {
        return group.channelList();
    }

private:
    void runCapture();
    /// librtlsdr cancels only a read that is running, so a stop right after `start` can be
    /// refused while the capture thread is still on its way into rtlsdr_read_async. The cancel
    /// is retried until the read takes it or the capture thread ends by itself (it starts no
    /// read once stopping); a tuner that refuses for `cancelRetryWindow` is reported by
    /// throwing SdrException "rtlsdr_cancel_async()".
    void cancelCapture();
    static constexpr std::chrono::milliseconds cancelRetryWindow{500};
    static constexpr std::chrono::milliseconds cancelRetryInterval{5};

    rtlsdr_dev_t* dev = nullptr;
    const uint32_t deviceIndex;
    std::vector<int> gains;  ///< tenths of a dB; empty until first asked for
    uint32_t bufferCount = 0;
    uint32_t bufferLength = 0;  ///< bytes
    boost::thread thread;       ///< the capture thread, inside rtlsdr_read_async
    /// Set by the capture thread once it has left librtlsdr for good.
    std::atomic<bool> captureEnded{false};
    /// The channels, the hand-off the capture thread publishes into, and the first failure.
    ChannelGroup group;
};
