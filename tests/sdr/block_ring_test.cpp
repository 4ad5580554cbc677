// The two hand-offs of raw blocks to the channel threads: the tuner's slot drops what finds a
// channel busy and counts it; a recording's queue gives every channel every block; a halt
// wakes every waiter of either.
#include "sdr/block_queue.hpp"
#include "sdr/tuner_slot.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace keelwave::test {
namespace {

using namespace sdr;

/// Publishes blocks of `byte` into the slot until `done` holds (the readers take them).
template <class Done>
void publishUntil(TunerSlot& slot, unsigned char byte, Done done) {
    std::vector<unsigned char> bytes(1000, byte);
    while (!done()) {
        TunerSlot::samplesCallback(bytes.data(), 1000, &slot);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TEST(TunerSlot, DropsAndCountsWhatArrivesWhileAChannelIsBusyAndOnlyThat) {
    TunerSlot slot(2);
    std::atomic<int> takenA{0};
    std::atomic<int> takenB{0};
    std::promise<void> stallEnds;
    std::thread stalling([&] {
        RawBlock block;
        if (slot.nextBlock(0, block)) {
            EXPECT_EQ(block.samples[0], 2.0f);  // byte 130 - 128
            EXPECT_EQ(block.count, 1000u);
            ++takenA;
            stallEnds.get_future().wait();  // busy with it, holding the block
        }
        while (slot.nextBlock(0, block)) {
            ++takenA;
        }
    });
    std::thread quick([&] {
        for (RawBlock block; slot.nextBlock(1, block);) {
            ++takenB;
        }
    });
    publishUntil(slot, 130, [&] { return takenA == 1; });
    const int takenBeforeStall = takenB;
    const uint64_t droppedBeforeStall = slot.droppedBlocks();
    std::vector<unsigned char> bytes(1000, 140);
    for (int block = 0; block < 5; ++block) {
        TunerSlot::samplesCallback(bytes.data(), 1000, &slot);
    }
    EXPECT_EQ(slot.droppedBlocks(), droppedBeforeStall + 5);
    EXPECT_EQ(takenB, takenBeforeStall);  // lost for every channel
    stallEnds.set_value();
    publishUntil(slot, 130, [&] { return takenA == 2; });
    EXPECT_GT(takenB, takenBeforeStall);

    slot.stopPublishing();
    const uint64_t droppedAtStop = slot.droppedBlocks();
    TunerSlot::samplesCallback(bytes.data(), 1000, &slot);  // ignored, neither taken nor counted
    slot.halt();
    stalling.join();
    quick.join();
    EXPECT_EQ(slot.droppedBlocks(), droppedAtStop);
    EXPECT_EQ(takenA, 2);
}

TEST(BlockQueue, GivesEveryChannelEveryBlockInOrderWhateverItsPace) {
    BlockQueue queue(2, 2, 100);
    auto read = [&queue](std::size_t reader, int pauseMilliseconds) {
        std::vector<float> firsts;
        for (RawBlock block; queue.nextBlock(reader, block);) {
            firsts.push_back(block.samples[0]);
            const bool last = block.last;
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMilliseconds));
            queue.doneWith(reader);
            if (last) {
                break;
            }
        }
        return firsts;
    };
    auto slow = std::async(std::launch::async, read, 0, 5);
    auto quick = std::async(std::launch::async, read, 1, 0);
    std::vector<float> sent;
    for (unsigned char byte = 128; byte < 138; ++byte) {
        const std::vector<unsigned char> bytes(100, byte);
        ASSERT_TRUE(queue.publish(bytes.data(), 100, byte == 137));
        sent.push_back(static_cast<float>(byte - 128));
    }
    EXPECT_TRUE(queue.drain());
    EXPECT_EQ(slow.get(), sent);
    EXPECT_EQ(quick.get(), sent);
}

TEST(BlockQueue, AHaltWakesAPublisherWaitingForRoomAndChannelsWaitingForBlocks) {
    BlockQueue full(1, 1, 100);
    const std::vector<unsigned char> bytes(100, 128);
    ASSERT_TRUE(full.publish(bytes.data(), 100, false));  // nobody takes it
    auto waitingForRoom =
        std::async(std::launch::async, [&] { return full.publish(bytes.data(), 100, false); });
    BlockQueue empty(2, 2, 100);
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
