#include "sdr/block_queue.hpp"

#include <algorithm>

namespace keelwave::sdr {

namespace {

/// Unsigned tuner bytes are centred on 128.
constexpr float byteOffset = 128.0f;

}  // namespace

BlockQueue::BlockQueue(std::size_t readers, std::size_t blocks, uint32_t blockFloats)
    : slots(blocks), taken(readers, 0) {
    for (Slot& slot : slots) {
        slot.samples.resize(blockFloats);
    }
}

bool BlockQueue::publish(const unsigned char* bytes, uint32_t length, bool last) {
    std::unique_lock<std::mutex> guard(lock);
    Slot& slot = slots[written % slots.size()];
    freed.wait(guard, [&] { return halted || slot.pending == 0; });
    if (halted) {
        return false;
    }
    // A free block belongs to the publisher alone until it is published.
    guard.unlock();
    slot.count = std::min(length, static_cast<uint32_t>(slot.samples.size()));
    for (uint32_t n = 0; n < slot.count; ++n) {
        slot.samples[n] = static_cast<float>(bytes[n]) - byteOffset;
    }
    guard.lock();
    slot.last = last;
    slot.pending = taken.size();
    ++written;
    published.notify_all();
    return true;
}

bool BlockQueue::drain() {
    std::unique_lock<std::mutex> guard(lock);
    freed.wait(guard, [this] {
        return halted || std::all_of(slots.begin(), slots.end(),
                                     [](const Slot& slot) { return slot.pending == 0; });
    });
    return !halted;
}

bool BlockQueue::nextBlock(std::size_t reader, RawBlock& block) {
    std::unique_lock<std::mutex> guard(lock);
    published.wait(guard, [&] { return halted || taken[reader] < written; });
    if (halted) {
        return false;
    }
    const Slot& slot = slots[taken[reader] % slots.size()];
    block = {slot.samples.data(), slot.count, slot.last};
    return true;
}

void BlockQueue::doneWith(std::size_t reader) {
    const std::lock_guard<std::mutex> guard(lock);
    Slot& slot = slots[taken[reader] % slots.size()];
    ++taken[reader];
    if (--slot.pending == 0) {
        freed.notify_all();
    }
}

void BlockQueue::halt() {
    const std::lock_guard<std::mutex> guard(lock);
    halted = true;
    published.notify_all();
    freed.notify_all();
}

}  // namespace keelwave::sdr
