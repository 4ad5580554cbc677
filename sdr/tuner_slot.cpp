#include "sdr/tuner_slot.hpp"

#include <algorithm>
#include <mutex>

namespace keelwave::sdr {

namespace {

/// Unsigned tuner bytes are centred on 128.
constexpr float byteOffset = 128.0f;

}  // namespace

TunerSlot::TunerSlot(std::size_t readers)
    : sampleBuffer(new float[sampleCapacity]), newBlock(readers, 0) {
    for (std::size_t reader = 0; reader < readers; ++reader) {
        held.emplace_back(sampleLock, std::defer_lock);
    }
}

void TunerSlot::samplesCallback(unsigned char* bytes, uint32_t length, void* context) {
    TunerSlot& slot = *static_cast<TunerSlot*>(context);
    const uint32_t count = std::min(length, sampleCapacity);
    if (slot.stopping || count < 2) {
        return;
    }
    std::unique_lock<std::shared_mutex> exclusive(slot.sampleLock, std::try_to_lock);
    if (!exclusive.owns_lock()) {
        // A channel still works on the previous block. Waiting would stall the USB read loop.
        ++slot.dropped;
        return;
    }
    for (uint32_t n = 0; n < count; ++n) {
        slot.sampleBuffer[n] = static_cast<float>(bytes[n]) - byteOffset;
    }
    slot.sampleCount = count;
    std::fill(slot.newBlock.begin(), slot.newBlock.end(), 1);
    // Notified before the exclusive side is released: the woken channels then wait only
    // briefly for their shared side and always see the whole block.
    slot.sampleReady.notify_all();
}

bool TunerSlot::nextBlock(std::size_t reader, RawBlock& block) {
    std::shared_lock<std::shared_mutex>& shared = held[reader];
    if (!shared.owns_lock()) {
        shared.lock();
    }
    while (!stopping) {
        // The wait's verdict is not trusted: only a publication sets the flag, so the flag
        // alone tells whether a block waits, also after a wake-up that reports a timeout.
        sampleReady.wait_for(shared, waitTime);
        if (newBlock[reader] != 0 && !stopping) {
            newBlock[reader] = 0;
            block = {sampleBuffer.get(), sampleCount, false};
            return true;
        }
    }
    shared.unlock();
    return false;
}

void TunerSlot::halt() {
    stopping = true;
    // With the exclusive side every channel is inside its wait, so the notification cannot
    // fall between a channel's look at `stopping` and its wait.
    const std::unique_lock<std::shared_mutex> exclusive(sampleLock);
    sampleReady.notify_all();
}

}  // namespace keelwave::sdr
