#include "sdr/block_ring.hpp"

#include "base/tuner_stream.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace keelwave::sdr {

namespace {
constexpr double microsecondsPerSecond = 1e6;
}

BlockRing::BlockRing(std::size_t readers, std::size_t blocks, uint32_t blockBytes)
    : slots(blocks), taken(readers, 0) {
    for (Slot& slot : slots) {
        slot.bytes.resize(blockBytes);
    }
}

bool BlockRing::publish(const uint8_t* bytes, uint32_t length, bool last) {
    std::unique_lock<std::mutex> guard(lock);
    Slot& slot = slots[written % slots.size()];
    freed.wait(guard, [&] { return halted || slot.pending == 0; });
    if (halted) {
        return false;
    }
    fill(guard, slot, bytes, length, last);
    return true;
}

void BlockRing::offer(const uint8_t* bytes, uint32_t length, bool last) {
    std::unique_lock<std::mutex> guard(lock);
    const bool carriesPairs = length >= 2;
    if (offersClosed || halted || (!carriesPairs && !last)) {
        return;
    }
    if (carriesPairs) {
        placeOnClock(length / 2);
    }
    Slot& slot = slots[written % slots.size()];
    if (slot.pending > 0) {
        // A channel is still behind by the whole ring. Waiting would stall the USB read loop.
        // (A last block without pairs is no loss: the block after the gap ends what it would.)
        if (carriesPairs) {
            ++dropped;
            gap = true;
            streamPairs += length / 2;
        }
        return;
    }
    fill(guard, slot, bytes, length, last);
}

void BlockRing::placeOnClock(int64_t pairs) {
    const int64_t nowMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
    if (!anchor) {
        anchor = TimeAnchor{nowMicroseconds, streamPairs + pairs};
    } else if (resync) {
        // The pairs a break lost are counted by the clock the anchor was taken by, so that the
        // stream's positions keep time across it; a block ends where the clock says it arrives.
        const double elapsedSeconds =
            static_cast<double>(nowMicroseconds - anchor->utcMicroseconds) / microsecondsPerSecond;
        const auto due =
            anchor->pair + static_cast<int64_t>(elapsedSeconds * base::tunerPairsPerSecond) - pairs;
        streamPairs = std::max(streamPairs, due);
    }
    resync = false;
}

void BlockRing::fill(std::unique_lock<std::mutex>& guard, Slot& slot, const uint8_t* bytes,
                     uint32_t length, bool last) {
    // A free block belongs to the publisher alone until it is published; there is only one.
    guard.unlock();
    slot.count = std::min(length, static_cast<uint32_t>(slot.bytes.size()));
    std::memcpy(slot.bytes.data(), bytes, slot.count);
    guard.lock();
    slot.firstPair = streamPairs;
    streamPairs += length / 2;
    slot.afterGap = gap;
    gap = false;
    slot.last = last;
    slot.pending = taken.size();
    ++written;
    published.notify_all();
}

void BlockRing::markGap() {
    const std::lock_guard<std::mutex> guard(lock);
    gap = true;
    resync = true;
}

void BlockRing::stopOffers() {
    const std::lock_guard<std::mutex> guard(lock);
    offersClosed = true;
}

bool BlockRing::offersStopped() {
    const std::lock_guard<std::mutex> guard(lock);
    return offersClosed;
}

bool BlockRing::drain() {
    std::unique_lock<std::mutex> guard(lock);
    freed.wait(guard, [this] {
        return halted || std::all_of(slots.begin(), slots.end(),
                                     [](const Slot& slot) { return slot.pending == 0; });
    });
    return !halted;
}

bool BlockRing::nextBlock(std::size_t reader, RawBlock& block) {
    std::unique_lock<std::mutex> guard(lock);
    published.wait(guard, [&] { return halted || taken[reader] < written; });
    if (halted) {
        return false;
    }
    const Slot& slot = slots[taken[reader] % slots.size()];
    block = {slot.bytes.data(), slot.count, slot.firstPair, slot.afterGap, slot.last};
    return true;
}

void BlockRing::doneWith(std::size_t reader) {
    const std::lock_guard<std::mutex> guard(lock);
    Slot& slot = slots[taken[reader] % slots.size()];
    ++taken[reader];
    if (--slot.pending == 0) {
        freed.notify_all();
    }
}

void BlockRing::halt() {
    const std::lock_guard<std::mutex> guard(lock);
    halted = true;
    published.notify_all();
    freed.notify_all();
}

std::optional<TimeAnchor> BlockRing::timeAnchor() {
    const std::lock_guard<std::mutex> guard(lock);
    return anchor;
}

uint64_t BlockRing::droppedBlocks() {
    const std::lock_guard<std::mutex> guard(lock);
    return dropped;
}

uint64_t BlockRing::arrivedBlocks() {
    const std::lock_guard<std::mutex> guard(lock);
    return written + dropped;
}

}  // namespace keelwave::sdr
