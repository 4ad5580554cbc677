#pragma once

#include "sdr/block_ring.hpp"
#include "sdr/channel_thread.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace keelwave::sdr {

/// Where raw blocks come from (the tuner, a recording, a network tuner), and the channels they
/// feed. Used in this order: `addChannel` for each channel, `start`, `stop`, destruction. The
/// source's thread puts every block it gets into a ring that all the channel threads read; the
/// source says how many blocks the ring holds and whether it waits for room or drops.
class SampleSource {
public:
    /// A source whose ring holds `ringBlocks` blocks of `blockBytes` bytes.
    SampleSource(std::size_t ringBlocks, uint32_t blockBytes);
    virtual ~SampleSource() = default;
    SampleSource(const SampleSource&) = delete;
    SampleSource& operator=(const SampleSource&) = delete;

    /// Takes a channel. Channels are kept in ascending order of their offset (equal ones in the
    /// order added), the order they start and stop in.
    void addChannel(std::unique_ptr<ChannelThread> channel);

    /// Called once when the source has ended by itself: its input is over and every block has
    /// been decoded, or one of its threads failed (`failure` tells). It runs on that thread and
    /// should only hand the news on (post to the I/O loop). Set it before `start`.
    void setEndHandler(std::function<void()> handler) { endHandler = std::move(handler); }

    /// Starts the channel threads in order, then the source's own. If a thread cannot be
    /// created, those already started are stopped again and std::system_error is thrown.
    void start();

    /// Stops the source's thread, then halts the ring and joins the channels in order. Returns
    /// what went wrong on the way (the text after "Error: "), nothing after a clean stop. Safe
    /// to call again, and on a source that never started.
    std::optional<std::string> stop();

    /// The first failure of the source's or a channel's thread, or null. Safe from any thread.
    std::exception_ptr failure() const;

    /// Blocks the source had to drop because a channel was still busy. Any thread.
    uint64_t droppedBlocks() { return ring ? ring->droppedBlocks() : 0; }
    /// Blocks the source delivered so far, dropped ones included. Any thread.
    uint64_t deliveredBlocks() { return ring ? ring->arrivedBlocks() : 0; }

    /// When a live source's first block arrived; nothing for a recording, or before it did.
    /// Any thread.
    std::optional<TimeAnchor> timeAnchor() { return ring ? ring->timeAnchor() : std::nullopt; }

protected:
    /// Starts the thread that fills the ring.
    virtual void startPublishing() = 0;
    /// Ends publication and joins the source's thread; returns what went wrong.
    virtual std::optional<std::string> stopPublishing() = 0;

    /// The ring the source fills; there from `start` on. Shared, so that a thread the source
    /// cannot stop may keep it.
    const std::shared_ptr<BlockRing>& blocks() const { return ring; }

    /// From the source's or a channel's thread: the source has ended, by `failed` if not null.
    /// The first failure is kept; the end handler runs at the first report only.
    void reportEnd(std::exception_ptr failed = nullptr);

private:
    void stopChannels();

    const std::size_t ringSize;
    const uint32_t ringBlockBytes;
    mutable std::mutex endLock;  ///< guards firstFailure and endReported
    std::exception_ptr firstFailure;
    bool endReported = false;
    std::function<void()> endHandler;
    std::shared_ptr<BlockRing> ring;
    std::vector<std::unique_ptr<ChannelThread>> channels;
};

}  // namespace keelwave::sdr
