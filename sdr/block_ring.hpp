#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace keelwave::sdr {

/// When the first block a live source offered arrived: UTC microseconds since 1970, and the
/// stream position its last pair ends at (a block is handed over once it is full).
struct TimeAnchor {
    int64_t utcMicroseconds = 0;
    int64_t pair = 0;
};

/// One raw block as a channel thread sees it.
struct RawBlock {
    const uint8_t* bytes = nullptr;  ///< unsigned I/Q bytes, I first
    uint32_t count = 0;              ///< bytes
    int64_t firstPair = 0;           ///< stream position of its first pair, dropped blocks counted
    bool afterGap = false;           ///< blocks were dropped just before this one
    bool last = false;  ///< the input ends with this block: the chain then hands on all
};

/// The hand-off of raw blocks from a source's thread to the channel threads: a ring of
/// preallocated blocks that every channel reads in order, each at its own pace, and that the
/// source refills once every channel is done with a block.
///
///   source thread                                channel threads (readers 0, 1, ...)
///   publish: wait for a free block  ◄─ room ──┐  nextBlock: wait until its next block is in
///   offer:   no free block: drop it, count it, │  doneWith: one reader fewer on the block; the
///            and mark the next one as after a  │            last one frees it
///            gap; never waits                  │
///            fill it, unlocked                 │
///            pending = readers ─ published ───►│
///   drain:   wait until every block is free    │
///   halt():  every wait returns false ─────────┘
///
/// A recording publishes (nothing is ever lost; the reader waits for the channels). The tuner
/// offers: its capture thread must never wait, so a block that finds the ring full while a
/// channel lags is lost for every channel, and the chains hear of the gap. The lock is held
/// only to move counters, never while a block is filled or decoded.
class BlockRing {
public:
    /// A ring of `blocks` blocks of at most `blockBytes` bytes for `readers` channels.
    BlockRing(std::size_t readers, std::size_t blocks, uint32_t blockBytes);

    /// Waits for a free block and publishes `length` bytes (cut to the block size); `last`
    /// marks the end of the input. False, publishing nothing, once halted.
    bool publish(const uint8_t* bytes, uint32_t length, bool last);

    /// Publishes `length` bytes (cut to the block size) if a block is free, else drops them and
    /// counts the drop; ignores fewer than 2 bytes but for a `last` block, and everything once
    /// offers have stopped. `last`: a live stream breaks off after this block, so the chains
    /// hand on all they hold now rather than when it resumes. Never waits but for the lock.
    void offer(const uint8_t* bytes, uint32_t length, bool last = false);

    /// The stream broke off and resumes with the next block offered (a network tuner that
    /// reconnected, samples a driver lost): that block carries a gap mark, as after a drop, and
    /// its position counts the pairs lost by the clock, as the time anchor does.
    void markGap();

    /// From now on `offer` ignores every block: set before the tuner's read is cancelled, so
    /// that a transfer completing meanwhile publishes nothing.
    void stopOffers();
    bool offersStopped();

    /// Waits until every channel has finished every block published; false once halted.
    bool drain();

    /// Waits for the next block of `reader`; false once halted.
    bool nextBlock(std::size_t reader, RawBlock& block);
    /// `reader` has finished the block `nextBlock` gave it.
    void doneWith(std::size_t reader);

    /// Wakes every thread that waits on the ring; from then on nothing is published and every
    /// wait returns false.
    void halt();

    /// When the first offered block arrived, once one has: what puts the stream on the clock.
    std::optional<TimeAnchor> timeAnchor();

    /// The most bytes a block holds.
    uint32_t blockBytes() const { return static_cast<uint32_t>(slots.front().bytes.size()); }

    /// Blocks `offer` dropped because no block was free.
    uint64_t droppedBlocks();
    /// Blocks that came to the ring so far, published or dropped: it stands still only while
    /// the source delivers nothing.
    uint64_t arrivedBlocks();

private:
    struct Slot {
        std::vector<uint8_t> bytes;
        uint32_t count = 0;
        int64_t firstPair = 0;
        bool afterGap = false;
        bool last = false;
        std::size_t pending = 0;  ///< readers still to finish it
    };

    /// Under the lock, for an offered block of `pairs`: takes the time anchor from the first,
    /// and after a break moves the stream's position to where the clock puts the block.
    void placeOnClock(int64_t pairs);
    /// Fills the free `slot` (the lock released) and publishes it (the lock taken again).
    void fill(std::unique_lock<std::mutex>& guard, Slot& slot, const uint8_t* bytes,
              uint32_t length, bool last);

    std::mutex lock;  ///< guards everything below but the bytes of a free slot
    std::condition_variable published;
    std::condition_variable freed;
    std::vector<Slot> slots;
    std::size_t written = 0;         ///< blocks published so far
    std::vector<std::size_t> taken;  ///< per reader: blocks it has taken so far
    int64_t streamPairs = 0;         ///< pairs offered or published so far, dropped ones too
    bool gap = false;                ///< a block was dropped since the last one published
    bool resync = false;  ///< the stream broke off: the next offer's position by the clock
    uint64_t dropped = 0;
    std::optional<TimeAnchor> anchor;
    bool offersClosed = false;
    bool halted = false;
};

}  // namespace keelwave::sdr
