#pragma once

#include "sdr/sample_source.hpp"

#include <rtl-sdr.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace keelwave::sdr {

/// USB transfers kept in flight by librtlsdr.
constexpr uint32_t tunerTransferCount = 16;

/// Blocks the tuner's ring holds: 8 transfers, 1.4 s of signal, so that a channel thread the
/// scheduler of a loaded Raspberry Pi leaves waiting for some hundreds of milliseconds loses
/// nothing; a channel that cannot keep up at all loses blocks however many there are.
constexpr std::size_t tunerRingBlocks = 8;

/// One RTL2832U tuner opened through librtlsdr, and the capture thread that streams its
/// transfers into the ring.
///
/// Used in this order: construct, `open`, `configure`, then as a sample source: `addChannel`
/// for each channel, `start`, `stop`, destruction. A failed librtlsdr call on the calling
/// thread throws SdrException. On the capture thread a failure ("rtlsdr_read_async()" when the
/// tuner is pulled out) ends the thread and is reported as the source's end.
class SdrDevice : public SampleSource {
public:
    /// No librtlsdr call is made until `open`.
    explicit SdrDevice(uint32_t deviceIndex);
    /// Stops the threads if `stop` was not called, then closes the tuner; a capture thread
    /// whose read could not be cancelled is left to itself with what it uses, and the tuner
    /// then stays open.
    ~SdrDevice() override;

    void open();

    /// Tunes the device and writes the tuner report to standard error. Without `correction`
    /// (ppm) no correction is sent; without `gain` (dB) the tuner keeps its automatic gain.
    void configure(std::optional<int32_t> correction, std::optional<float> gain);

    /// The gains the tuner offers, in tenths of a dB, asked of librtlsdr on first use.
    const std::vector<int>& supportedGains();

protected:
    void startPublishing() override;
    /// Stops publication, cancels the read and joins the capture thread. A cancel librtlsdr
    /// refuses returns "rtlsdr_cancel_async(): ..." and leaves the thread running.
    std::optional<std::string> stopPublishing() override;

private:
    /// What the capture thread uses, shared with it: should its read never end, it keeps all
    /// of it alive after the device is gone. The last owner closes the tuner.
    struct Capture {
        ~Capture() { rtlsdr_close(dev); }
        /// On the capture thread: tells the device, if it still listens, that the thread ended.
        void report(std::exception_ptr failed);

        rtlsdr_dev_t* dev = nullptr;
        std::shared_ptr<BlockRing> ring;
        std::atomic<bool> ended{false};  ///< the capture thread has left librtlsdr for good
        std::mutex ownerLock;            ///< guards owner
        SdrDevice* owner = nullptr;      ///< cleared when the device leaves the thread to itself
    };

    /// The capture thread: resets the tuner's buffer and runs the asynchronous read.
    static void runCapture(const std::shared_ptr<Capture>& capture);
    /// librtlsdr's callback, once per transfer on the capture thread; `context` is the ring.
    /// Offers the transfer to the channels and never waits for them.
    static void samplesCallback(unsigned char* bytes, uint32_t length, void* context);
    /// librtlsdr cancels only a read that runs, so a stop right after `start` can be refused
    /// while the capture thread is still on its way into rtlsdr_read_async. The cancel is asked
    /// again until the read takes it or the thread ends by itself (it starts no read once
    /// publication has stopped), for `cancelRetryWindow` at most.
    std::optional<std::string> cancelCapture();
    static constexpr std::chrono::milliseconds cancelRetryWindow{500};
    static constexpr std::chrono::milliseconds cancelRetryInterval{5};

    const std::shared_ptr<Capture> capture;
    const uint32_t deviceIndex;
    std::vector<int> gains;  ///< tenths of a dB; empty until first asked for
    std::thread thread;      ///< the capture thread, inside rtlsdr_read_async
};

}  // namespace keelwave::sdr
