#pragma once

#include "sdr/block_feed.hpp"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace keelwave::sdr {

/// A recording's hand-off: a ring of preallocated blocks that every channel reads in order and
/// the reader thread refills once all channels are done with a block. Nothing is ever dropped:
/// the reader waits for room, a channel waits for the next block.
///
///   reader thread                               channel threads (readers)
///   publish: wait for a free block ◄─ room ──┐  nextBlock: wait until its next block is in
///            fill it, unlocked               │  doneWith: one reader fewer on the block; the
///            pending = readers ─ published ─►│            last one frees it
///   drain:   wait until every block is free  │
///   halt():  every wait returns false ───────┘
///
/// The channels work side by side, each at its own pace, at most `blocks` apart.
class BlockQueue : public BlockFeed {
public:
    BlockQueue(std::size_t readers, std::size_t blocks, uint32_t blockFloats);

    /// Waits for a free block and publishes `length` unsigned I/Q bytes (cut to the block
    /// size) as floats; `last` marks the end of the input. False, publishing nothing, once
    /// halted.
    bool publish(const unsigned char* bytes, uint32_t length, bool last);

    /// Waits until every channel has finished every block published; false once halted.
    bool drain();

    bool nextBlock(std::size_t reader, RawBlock& block) override;
    void doneWith(std::size_t reader) override;
    void halt() override;

private:
    struct Slot {
        std::vector<float> samples;
        uint32_t count = 0;
        bool last = false;
        std::size_t pending = 0;  ///< readers still to finish it
    };

    std::mutex lock;  ///< guards everything below but the samples of a free slot
    std::condition_variable published;
    std::condition_variable freed;
    std::vector<Slot> slots;
    std::size_t written = 0;         ///< blocks published so far
    std::vector<std::size_t> taken;  ///< per reader: blocks it has taken so far
    bool halted = false;
};

}  // namespace keelwave::sdr
