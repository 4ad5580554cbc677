#include "sdr/block_assembler.hpp"

namespace keelwave::sdr {

BlockAssembler::BlockAssembler(BlockRing& blockRing, uint32_t blockBytes)
    : ring(blockRing), block(blockBytes) {}

void BlockAssembler::commit(uint32_t bytes) {
    filled += bytes;
    if (filled == block.size()) {
        ring.offer(block.data(), filled);
        filled = 0;
    }
}

void BlockAssembler::breakStream() {
    // The ring ignores fewer than 2 bytes; an odd last byte is cut off here.
    ring.offer(block.data(), filled - filled % 2);
    filled = 0;
    ring.markGap();
}

}  // namespace keelwave::sdr
