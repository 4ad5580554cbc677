#pragma once

#include "sdr/block_feed.hpp"
#include "sdr/sdr_channel.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace keelwave::sdr {

/// The raw stream every source delivers: the tuner's own, or a recording of it made at the same
/// settings (rtl_sdr -f 162000000 -s 288000), unsigned 8-bit I and Q alternating, I first.
/// The tuner is centred between the two AIS channels, 161975000 and 162025000 Hz.
constexpr uint32_t tunerCentreFrequency = 162000000;  // Hz
constexpr uint32_t tunerSampleRate = 288000;          // I/Q pairs per second
/// Bytes per USB transfer, and per block a recording is read in: 51200 I/Q pairs, about
/// 177.8 ms of signal.
constexpr uint32_t tunerBufferLength = 102400;

/// Where raw blocks come from (the tuner, a recording, a network tuner), and the channels they
/// feed. Used in this order: `addChannel` for each channel, `start`, `stop`, destruction. The
/// source publishes every block it gets into a feed that all the channel threads read; how a
/// source publishes, and whether it may drop a block, is its own.
class SampleSource {
public:
    SampleSource() = default;
    virtual ~SampleSource() = default;
    SampleSource(const SampleSource&) = delete;
    SampleSource& operator=(const SampleSource&) = delete;

    /// Takes a channel. Channels are kept in ascending order of signed frequency (equal ones in
    /// the order added), the order they start and stop in.
    void addChannel(std::unique_ptr<SdrChannel> channel);

    /// Called once when the source has ended by itself: its input is over and every block has
    /// been decoded, or one of its threads failed (`failure` tells). It runs on that thread and
    /// should only hand the news on (post to the I/O loop). Set it before `start`.
    void setEndHandler(std::function<void()> handler) { endHandler = std::move(handler); }

    /// Starts the channel threads in order, then the source's own. If a thread cannot be
    /// created, those already started are stopped again and boost::thread_resource_error is
    /// thrown.
    void start();

    /// Stops the source's thread, then halts the feed and joins the channels in order. Returns
    /// what went wrong on the way (the text after "Error: "), nothing after a clean stop. Safe
    /// to call again, and on a source that never started.
    std::optional<std::string> stop();

    /// The first failure of the source's or a channel's thread, or null. Safe from any thread.
    std::exception_ptr failure() const;

    /// Blocks the source had to drop because the channels were still busy.
    virtual uint64_t droppedBlocks() const { return 0; }

protected:
    /// Makes the feed for `readers` channels, before any thread starts.
    virtual BlockFeed& prepareFeed(std::size_t readers) = 0;
    /// Starts the thread that publishes into the feed.
    virtual void startPublishing() = 0;
    /// Ends publication and joins the source's thread; returns what went wrong.
    virtual std::optional<std::string> stopPublishing() = 0;

    /// From the source's or a channel's thread: the source has ended, by `failed` if not null.
    /// The first failure is kept; the end handler runs at the first report only.
    void reportEnd(std::exception_ptr failed = nullptr);

private:
    void stopChannels();

    mutable std::mutex endLock;  ///< guards firstFailure and endReported
    std::exception_ptr firstFailure;
    bool endReported = false;
    std::function<void()> endHandler;
    BlockFeed* feed = nullptr;
    std::vector<std::unique_ptr<SdrChannel>> channels;
};

}  // namespace keelwave::sdr
