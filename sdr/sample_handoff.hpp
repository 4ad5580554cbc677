#pragma once

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/shared_mutex.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class SdrChannel;

/// How long a channel (or a waiting publisher) sleeps at most before it looks again.
constexpr uint32_t handoffWaitMicroseconds = 100000;  // 100 ms

/// The single slot through which raw I/Q blocks reach every channel thread: one float buffer
/// holding the latest block, a reader/writer lock and one condition that wakes the channels.
///
///   source --publish--> [ sampleBuffer | sampleCount ] --sampleReady--> channel A, channel B
///                        guarded by sampleLock: exclusive for the source, shared for channels
///
/// A channel holds the shared side from the end of one wait to the start of the next, so for
/// the whole time it demodulates and decodes a block. A source gets the exclusive side only
/// while every channel is waiting. The tuner's source (`samplesCallback`) only tries for it and
/// drops a block that finds a channel busy, because the USB read loop must never stall; a file
/// source (`publishWhenTaken`) waits instead and loses nothing.
///
/// Each channel has its own `newBlock` flag: set on every channel when a block is published
/// (under the exclusive side), cleared by the channel that takes it (under the shared side).
///
/// A waiting publisher watches the flags under `takenLock`, not under `sampleLock`: Boost's
/// shared_mutex lets a writer queued for the exclusive side hold back readers that come after
/// it, so a publisher queued while one channel decodes would keep the other from taking the
/// same block, and the channels would take turns instead of working side by side. It asks for
/// the exclusive side only once every channel has the block. `takenLock` is taken last: a
/// channel may hold the shared side when it takes it, a publisher holds nothing else.
class SampleHandoff {
public:
    /// Room in the buffer: the tuner's transfer length, one float per byte.
    static constexpr uint32_t defaultCapacity = 102400;  // floats

    SampleHandoff() = default;
    SampleHandoff(const SampleHandoff&) = delete;
    SampleHandoff& operator=(const SampleHandoff&) = delete;

    /// Makes the slot ready before any channel thread starts: allocates `capacity` floats (once),
    /// clears `stopping` and the end of input, and takes the channels to flag on publication.
    void prepare(const std::vector<SdrChannel*>& channels, uint32_t capacity = defaultCapacity);

    /// The tuner's writer, registered with rtlsdr_read_async; `context` is this hand-off.
    /// `bytes` holds unsigned I/Q bytes, I first. Never blocks: a block that finds a channel
    /// still busy with the previous one is dropped for all channels. Publishes nothing while
    /// `stopping` is set or for fewer than 2 bytes; a longer transfer than the buffer holds is
    /// cut to `sampleCapacity`.
    static void samplesCallback(unsigned char* bytes, uint32_t length, void* context);

    /// The writer for sources that must not lose blocks: waits until every channel has taken
    /// and finished the previous block, then publishes. Returns false, publishing nothing, once
    /// `stopping` is set (also while it waits). `length` should be even so that the next block
    /// starts with I; fewer than 2 bytes publish nothing.
    bool publishWhenTaken(const unsigned char* bytes, uint32_t length);

    /// Ends the input of a non-dropping source: waits like `publishWhenTaken`, then has every
    /// channel hand its partly filled last block to its decoder, and returns once all have
    /// done so. False if `stopping` was set first.
    bool finishInput();

    /// Sets `stopping` and wakes a source waiting in `publishWhenTaken` or `finishInput`.
    void beginStop();

    /// Called by a channel once it has cleared its `newBlock`: wakes a waiting publisher.
    void noteTaken();

    /// Wakes every waiting channel, so that one asked to stop ends now rather than when its
    /// wait runs out.
    void wakeChannels();

    /// While set, nothing is published. Set before the tuner's read is cancelled, so that a
    /// transfer completing during the cancellation is ignored.
    std::atomic<bool> stopping{false};

    boost::shared_mutex sampleLock;
    std::unique_ptr<float[]> sampleBuffer;  ///< the published block: byte - 128, I first
    uint32_t sampleCapacity = 0;            ///< floats allocated in `sampleBuffer`
    uint32_t sampleCount = 0;               ///< valid floats of the last published block
    /// Set with the last publication of a non-dropping source: channels flush their block.
    bool inputEnded = false;
    /// Notified, all waiters at once, after each publication.
    boost::condition_variable_any sampleReady;
    /// Notified by a channel when it takes a block; a waiting source watches it.
    boost::condition_variable_any blockTaken;
    /// Guards a publisher's look at the `newBlock` flags and its wait on `blockTaken`.
    boost::mutex takenLock;

private:
    /// Copies up to `sampleCapacity` bytes as floats, flags every channel and wakes them.
    /// The caller holds `sampleLock` exclusively; the channels wake once it is released.
    void publish(const unsigned char* bytes, uint32_t count, bool last);

    /// Waits, holding neither side of `sampleLock`, until no channel has a block pending. False
    /// once `stopping` is set.
    bool waitUntilTaken();

    /// `waitUntilTaken`, then locks `exclusive` (on `sampleLock`, not yet held), which it gets
    /// once every channel has finished the block. False, possibly holding it, once `stopping`
    /// is set.
    bool lockWhenFinished(boost::unique_lock<boost::shared_mutex>& exclusive);

    std::vector<SdrChannel*> readers;
};
