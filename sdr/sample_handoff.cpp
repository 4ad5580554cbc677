#include "sdr/sample_handoff.hpp"

#include "sdr/sdr_channel.hpp"

#include <boost/thread/thread_time.hpp>

#include <algorithm>

namespace {

/// Unsigned tuner bytes are centred on 128.
constexpr double byteOffset = 128.0;

}  // namespace

void SampleHandoff::prepare(const std::vector<SdrChannel*>& channels, uint32_t capacity) {
    if (!sampleBuffer) {
        sampleBuffer.reset(new float[capacity]);
        sampleCapacity = capacity;
    }
    readers = channels;
    sampleCount = 0;
    inputEnded = false;
    stopping = false;
}

void SampleHandoff::samplesCallback(unsigned char* bytes, uint32_t length, void* context) {
    SampleHandoff& handoff = *static_cast<SampleHandoff*>(context);
    if (handoff.stopping) {
        return;
    }
    const uint32_t count = std::min(length, handoff.sampleCapacity);
    if (count < 2) {
        return;
    }
    boost::unique_lock<boost::shared_mutex> exclusive(handoff.sampleLock, boost::try_to_lock);
    if (!exclusive.owns_lock()) {
        // A channel is still working on the previous block. Waiting would stall the USB read
        // loop, and there is no queue: the block is lost for every channel.
        return;
    }
    handoff.publish(bytes, count, false);
}

bool SampleHandoff::publishWhenTaken(const unsigned char* bytes, uint32_t length) {
    boost::unique_lock<boost::shared_mutex> exclusive(sampleLock);
    if (!waitUntilTaken(exclusive)) {
        return false;
    }
    const uint32_t count = std::min(length, sampleCapacity);
    if (count >= 2) {
        publish(bytes, count, false);
    }
    return true;
}

bool SampleHandoff::finishInput() {
    boost::unique_lock<boost::shared_mutex> exclusive(sampleLock);
    if (!waitUntilTaken(exclusive)) {
        return false;
    }
    publish(nullptr, 0, true);
    // Holding the lock again after this means every channel has also finished its flush.
    return waitUntilTaken(exclusive);
}

void SampleHandoff::beginStop() {
    stopping = true;
    blockTaken.notify_all();
}

void SampleHandoff::publish(const unsigned char* bytes, uint32_t count, bool last) {
    for (uint32_t n = 0; n < count; ++n) {
        sampleBuffer[n] = static_cast<float>(static_cast<float>(bytes[n]) - byteOffset);
    }
    sampleCount = count;
    inputEnded = last;
    for (SdrChannel* channel : readers) {
        channel->newBlock = true;
    }
    // Notified before the exclusive side is released: the woken channels then wait only
    // briefly for their shared side and always see the whole block.
    sampleReady.notify_all();
}

bool SampleHandoff::waitUntilTaken(boost::unique_lock<boost::shared_mutex>& exclusive) {
    for (;;) {
        if (stopping) {
            return false;
        }
        const bool pending =
            std::any_of(readers.begin(), readers.end(),
                        [](const SdrChannel* channel) { return channel->newBlock; });
        if (!pending) {
            return true;
        }
        // A channel that was not yet waiting when the block was published sees its flag only
        // when its wait ends, so it is woken again rather than waited for a whole wait.
        sampleReady.notify_all();
        blockTaken.timed_wait(exclusive, boost::get_system_time() + boost::posix_time::microseconds(
                                                                        handoffWaitMicroseconds));
    }
}
