// The ring that hands raw blocks to the channel threads: offered (the tuner) it never waits,
// drops what finds a channel a whole ring behind, counts it and marks the gap; a break in a live
// stream is marked and placed by the clock; a halt wakes every waiter. (That a recording's blocks
// reach every channel in order, the end-to-end runs show sentence for sentence.)
#include "sdr/block_ring.hpp"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <tuple>

namespace keelwave::test {
namespace {

using namespace sdr;

/// What a reader saw of a block: its first byte, its stream position, its gap mark.
using Seen = std::tuple<int, int64_t, bool>;

TEST(BlockRing, AnOfferThatFindsAChannelAWholeRingBehindIsDroppedCountedAndMarked) {
    BlockRing ring(2, 3, 100);
    std::vector<uint8_t> bytes(100);
    const auto offer = [&](uint8_t byte, uint32_t length = 100) {
        bytes.assign(100, byte);
        ring.offer(bytes.data(), length);
    };
    // Reader 1 keeps up; reader 0 takes nothing until five blocks have been offered.
    std::vector<Seen> quick;
    std::thread quickReader([&] {
        for (RawBlock block; ring.nextBlock(1, block); ring.doneWith(1)) {
            quick.push_back({block.bytes[0], block.firstPair, block.afterGap});
        }
    });
    offer(1);
    offer(2);
    offer(3);      // the ring is full: three blocks reader 0 has not taken
    offer(4);      // dropped, 50 pairs
    offer(5, 60);  // dropped, 30 pairs
    offer(6, 1);   // too short to carry a pair: ignored, neither counted nor published
    EXPECT_EQ(ring.droppedBlocks(), 2u);
    std::vector<Seen> slow;
    RawBlock block;
    for (int taken = 0; taken < 3 && ring.nextBlock(0, block); ++taken, ring.doneWith(0)) {
        slow.push_back({block.bytes[0], block.firstPair, block.afterGap});
    }
    ASSERT_TRUE(ring.drain());  // both readers have caught up
    offer(7);  // after the gap, where the stream is: 3 published and 2 dropped blocks on
    ring.stopOffers();
    offer(8);  // ignored once the tuner is being stopped
    ASSERT_TRUE(ring.nextBlock(0, block));
    slow.push_back({block.bytes[0], block.firstPair, block.afterGap});
    ring.doneWith(0);
    ASSERT_TRUE(ring.drain());
    ring.halt();
    quickReader.join();
    const std::vector<Seen> expected{
        {1, 0, false}, {2, 50, false}, {3, 100, false}, {7, 230, true}};
    EXPECT_EQ(slow, expected);
    EXPECT_EQ(quick, expected);  // lost for every channel alike
    EXPECT_EQ(ring.droppedBlocks(), 2u);
}

TEST(BlockRing, AfterABreakInTheStreamTheNextBlockIsMarkedAndPlacedByTheClock) {
    BlockRing ring(1, 4, 100);
    const std::vector<uint8_t> bytes(100, 128);
    ring.offer(bytes.data(), 100);  // puts the stream on the clock: 50 pairs end now
    ring.markGap();                 // a server lost for a tenth of a second at least
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ring.offer(bytes.data(), 100);
    RawBlock block;
    ASSERT_TRUE(ring.nextBlock(0, block));
    ring.doneWith(0);
    ASSERT_TRUE(ring.nextBlock(0, block));
    EXPECT_TRUE(block.afterGap);
    EXPECT_GE(block.firstPair, 50 + 28800 - 50);  // 288000 pairs/s, less its own 50
    EXPECT_EQ(ring.droppedBlocks(), 0u);
}

TEST(BlockRing, AHaltWakesAPublisherWaitingForRoomAndChannelsWaitingForBlocks) {
    BlockRing full(1, 1, 100);
    const std::vector<uint8_t> bytes(100, 128);
    ASSERT_TRUE(full.publish(bytes.data(), 100, false));  // nobody takes it
    auto waitingForRoom =
        std::async(std::launch::async, [&] { return full.publish(bytes.data(), 100, false); });
    BlockRing empty(2, 2, 100);
    auto waitingForBlock = std::async(std::launch::async, [&] {
        RawBlock block;
        return empty.nextBlock(1, block);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    full.halt();
    empty.halt();
    EXPECT_FALSE(waitingForRoom.get());
    EXPECT_FALSE(waitingForBlock.get());
    EXPECT_FALSE(full.drain());
}

}  // namespace
}  // namespace keelwave::test
