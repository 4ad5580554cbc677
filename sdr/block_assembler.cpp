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
    // An odd last byte, an I without its Q, is cut off. Even an empty block goes, for its mark:
    // the chains hand on what they hold now, not once the stream resumes, which may be long.
    ring.offer(block.data(), filled - filled % 2, true);
    filled = 0;
    ring.markGap();
}

}  // namespace keelwave::sdr
