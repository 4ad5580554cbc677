// The hand-off of messages from the channel threads to the outputs on the I/O thread: each
// message reaches every destination in order; past its room a tuner's message is dropped and
// counted, a recording's channel waits; a destination that is not ready holds the messages back
// without losing one; a halt frees a waiting channel.
#include "app/message_hand_off.hpp"
#include "format/nmea_format.hpp"
#include "tests/support/io_thread.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>

namespace keelwave::test {
namespace {

using app::MessageHandOff;

/// A destination that writes what it gets into a journal shared with the others.
struct Destination : net::LineOutput {
    Destination(const char* destinationName, std::vector<std::string>& sharedJournal)
        : name(destinationName), journal(sharedJournal) {}
    void deliver(const net::MessageLines& lines) override {
        for (const std::string& line : lines) {
            journal.push_back(name + " " + line);
        }
    }
    bool ready(std::size_t) override { return accepting; }
    std::string name;
    std::vector<std::string>& journal;
    std::atomic<bool> accepting{true};
};

/// A message of `sentences` sentences, each "<number>.<fragment>".
ais::AisMessage message(int number, int sentences = 1) {
    ais::AisMessage made;
    made.sentenceCount = sentences;
    for (int fragment = 0; fragment < sentences; ++fragment) {
        const std::string text = std::to_string(number) + "." + std::to_string(fragment + 1);
        std::strcpy(made.sentences[fragment], text.c_str());
    }
    return made;
}

struct HandOff {
    HandOff(std::size_t capacity, bool waitForRoom) : handOff(loop.io, capacity, waitForRoom) {
        for (Destination* destination : {&tcp, &udp, &log}) {
            handOff.addDestination(nmea, *destination);
        }
    }
    ~HandOff() { loop.stop(); }  // as the run ends: the loop first, then what it served
    void submit(const ais::AisMessage& made) {
        const ais::MessageSink sink = handOff.sink();
        sink.callback(sink.context, made);
    }
    /// The journal, read on the loop's thread once everything submitted has been delivered.
    std::vector<std::string> delivered() {
        std::vector<std::string> copy;
        for (int attempt = 0; attempt < 500; ++attempt) {
            bool idle = false;
            loop.run([&] { idle = handOff.idle(); });
            if (idle) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        loop.run([&] { copy = journal; });
        return copy;
    }
    std::vector<std::string> journal;
    Destination tcp{"tcp", journal};
    Destination udp{"udp", journal};
    Destination log{"log", journal};
    format::NmeaFormat nmea;
    IoThread loop;
    MessageHandOff handOff;
};

TEST(MessageHandOff, EveryMessageReachesTheDestinationsInTheirOrderAndATunersSurplusIsDropped) {
    HandOff road(2, false);
    road.log.accepting = false;  // holds the first message back: the ring fills behind it
    road.submit(message(1, 2));
    road.submit(message(2));
    road.submit(message(3));  // no room: dropped
    EXPECT_EQ(road.handOff.droppedMessages(), 1u);
    road.log.accepting = true;
    road.delivered();  // room again
    road.submit(message(4));
    EXPECT_THAT(road.delivered(), testing::ElementsAre("tcp 1.1", "tcp 1.2", "udp 1.1", "udp 1.2",
                                                       "log 1.1", "log 1.2", "tcp 2.1", "udp 2.1",
                                                       "log 2.1", "tcp 4.1", "udp 4.1", "log 4.1"));
}

TEST(MessageHandOff, ARecordingsChannelWaitsForRoomAndLosesNothing) {
    HandOff road(2, true);
    road.log.accepting = false;
    auto channel = std::async(std::launch::async, [&road] {
        for (int number = 1; number <= 5; ++number) {
            road.submit(message(number));
        }
    });
    EXPECT_EQ(channel.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    road.log.accepting = true;
    channel.get();
    std::vector<std::string> logged;
    for (const std::string& line : road.delivered()) {
        if (line.rfind("log ", 0) == 0) {
            logged.push_back(line);
        }
    }
    EXPECT_THAT(logged,
                testing::ElementsAre("log 1.1", "log 2.1", "log 3.1", "log 4.1", "log 5.1"));
    EXPECT_EQ(road.handOff.droppedMessages(), 0u);
}

TEST(MessageHandOff, AHaltFreesAChannelWaitingForRoom) {
    HandOff road(1, true);
    road.log.accepting = false;
    road.submit(message(1));
    auto waiting = std::async(std::launch::async, [&road] { road.submit(message(2)); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    road.handOff.halt();
    waiting.get();
    EXPECT_EQ(road.handOff.droppedMessages(), 1u);
}

}  // namespace
}  // namespace keelwave::test
