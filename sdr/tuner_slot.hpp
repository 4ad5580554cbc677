#pragma once

#include "sdr/block_feed.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <vector>

namespace keelwave::sdr {

/// The tuner's hand-off: one slot holding the latest block, shared by every channel.
///
///   capture thread (in librtlsdr)               channel threads (readers)
///   samplesCallback                             nextBlock: shared side held from the end of
///     ├ stopping: ignore                          one wait to the start of the next, so for
///     ├ try the exclusive side ── busy: drop ──►  the whole block; waits on sampleReady at
///     │                          and count it     most 100 ms at a time (steady clock)
///     └ copy, newBlock[each] = 1, notify ──────►  newBlock[own]: clear it, take the block
///
/// The capture thread never waits: while any channel still works on the last block, the new
/// one is lost for every channel (there is no queue), and the loss is counted. A channel that
/// was not yet waiting when a block came takes it at its next wake-up.
class TunerSlot : public BlockFeed {
public:
    /// Room in the buffer: the tuner's transfer length, one float per byte.
    static constexpr uint32_t sampleCapacity = 102400;  // floats
    /// The longest a channel sleeps before it looks again.
    static constexpr std::chrono::milliseconds waitTime{100};

    explicit TunerSlot(std::size_t readers);

    /// The writer, registered with rtlsdr_read_async; `context` is the slot. Publishes `length`
    /// unsigned I/Q bytes (cut to `sampleCapacity`) unless fewer than 2, or publication has
    /// stopped, or a channel is still busy. Never blocks.
    static void samplesCallback(unsigned char* bytes, uint32_t length, void* context);

    /// From now on every arriving block is ignored: set before the tuner's read is cancelled,
    /// so that a transfer completing meanwhile publishes nothing.
    void stopPublishing() { stopping = true; }
    bool publicationStopped() const { return stopping; }

    bool nextBlock(std::size_t reader, RawBlock& block) override;
    /// Nothing: the shared side stays held until the reader's next wait.
    void doneWith(std::size_t) override {}
    void halt() override;

    /// Blocks lost because a channel was still busy.
    uint64_t droppedBlocks() const { return dropped; }

private:
    std::atomic<bool> stopping{false};
    std::shared_mutex sampleLock;  ///< exclusive: the writer, by trying only; shared: the channels
    std::condition_variable_any sampleReady;  ///< notified, all at once, after each publication
    std::unique_ptr<float[]> sampleBuffer;    ///< the published block: byte - 128, I first
    uint32_t sampleCount = 0;                 ///< floats of it that are valid
    /// Per reader: set under the exclusive side at each publication, read and cleared by its
    /// own reader under the shared side.
    std::vector<char> newBlock;
    std::vector<std::shared_lock<std::shared_mutex>> held;  ///< per reader, its shared side
    std::atomic<uint64_t> dropped{0};
};

}  // namespace keelwave::sdr
