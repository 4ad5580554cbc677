#pragma once

#include "sdr/block_ring.hpp"

#include <cstdint>
#include <vector>

namespace keelwave::sdr {

/// Cuts a live stream of tuner bytes that arrives in pieces of any length (a socket, a
/// driver's buffers after conversion) into blocks of the tuner's transfer length, and offers
/// each full block to the ring: the channels then see the same blocks as from the local tuner,
/// and the source never waits for them. One thread only: the source's.
class BlockAssembler {
public:
    /// Offers to `ring` in blocks of `blockBytes` (even).
    BlockAssembler(BlockRing& ring, uint32_t blockBytes);

    /// Where the next bytes go, and how many fit before the block is full (at least 1).
    uint8_t* space() { return block.data() + filled; }
    uint32_t spaceBytes() const { return static_cast<uint32_t>(block.size()) - filled; }
    /// `bytes` (at most `spaceBytes()`) have been written at `space()`; offers a full block.
    void commit(uint32_t bytes);

    /// The stream broke off: offers the pairs of the block begun (an I without its Q is
    /// dropped) as the last before the break, so that the chains hand on what they hold, and
    /// marks the next block as after a gap, so that no frame spans the break.
    void breakStream();

private:
    BlockRing& ring;
    std::vector<uint8_t> block;
    uint32_t filled = 0;  ///< bytes of `block` written
};

}  // namespace keelwave::sdr
