#pragma once

#include <cstddef>
#include <cstdint>

namespace keelwave::sdr {

/// One raw block as a channel thread sees it: one float per tuner byte (the byte - 128), I and
/// Q alternating, I first.
struct RawBlock {
    const float* samples = nullptr;
    uint32_t count = 0;  ///< floats
    bool last = false;   ///< the input ends with this block: the chain then hands on what it holds
};

/// What the channel threads read their blocks from: the tuner's single slot, which drops a
/// block that finds a channel busy, or a recording's queue, which never drops. Every channel
/// reads every block, as reader 0, 1, ... of the feed, each on its own thread.
class BlockFeed {
public:
    virtual ~BlockFeed() = default;

    /// Waits for the next block of `reader`; false once the feed is halted.
    virtual bool nextBlock(std::size_t reader, RawBlock& block) = 0;

    /// `reader` has finished the block `nextBlock` gave it.
    virtual void doneWith(std::size_t reader) = 0;

    /// Wakes every thread that waits on the feed, readers and publisher alike; from then on
    /// nothing is published and `nextBlock` returns false.
    virtual void halt() = 0;
};

}  // namespace keelwave::sdr
