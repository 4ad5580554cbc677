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
    boost::unique_lock<boost::shared_mutex> exclusive(sampleLock, boost::defer_lock);
    if (!lockWhenFinished(exclusive)) {
        return false;
    }
    const uint32_t count = std::min(length, sampleCapacity);
    if (count >= 2) {
        publish(bytes, count, false);
    }
    return true;
}

bool SampleHandoff::finishInput() {
    boost::unique_lock<boost::shared_mutex> exclusive(sampleLock, boost::defer_lock);
    if (!lockWhenFinished(exclusive)) {
        return false;
    }
    publish(nullptr, 0, true);
    exclusive.unlock();
    // Holding the lock again means every channel has also finished its flush.
    return lockWhenFinished(exclusive);
}

void SampleHandoff::noteTaken() {
    // Passing through the lock orders this after a publisher's look at the flags: it is either
    // still to look, or already waiting and woken here.
    { const boost::lock_guard<boost::mutex> passing(takenLock); }
    blockTaken.notify_all();
}

void SampleHandoff::wakeChannels() {
    // With the exclusive side held every channel is inside its wait, so the notification
    // cannot fall between a channel's look at its stop request and its wait.
    const boost::unique_lock<boost::shared_mutex> exclusive(sampleLock);
    sampleReady.notify_all();
}

void SampleHandoff::beginStop() {
    stopping = true;
    noteTaken();
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

bool SampleHandoff::lockWhenFinished(boost::unique_lock<boost::shared_mutex>& exclusive) {
    if (!waitUntilTaken()) {
        return false;
    }
    // Every channel has the block: the exclusive side comes once they have all finished it.
    exclusive.lock();
    return !stopping;
}

bool SampleHandoff::waitUntilTaken() {
    boost::unique_lock<boost::mutex> taken(takenLock);
    for (;;) {
        if (stopping) {
            return false;
        }
        const bool pending =
            std::any_of(readers.begin(), readers.end(),
                        [](const SdrChannel* channel) { return channel->newBlock.load(); });
        if (!pending) {
            return true;
        }
        // A channel that was not yet waiting when the block was published sees its flag only
        // when its wait ends, so it is woken again rather than waited for a whole wait.
        sampleReady.notify_all();
        blockTaken.timed_wait(taken, boost::get_system_time() +
                                         boost::posix_time::microseconds(handoffWaitMicroseconds));
    }
}
