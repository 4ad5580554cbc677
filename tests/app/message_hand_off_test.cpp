// The hand-off of messages from the channel threads to the outputs on the I/O thread: each
// message reaches every destination in order; past its room a tuner's message is dropped and
// counted, a recording's channel waits until a halt; a destination that is not ready holds the
// messages back without losing one.
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

/// Destinations "tcp", "udp" and "log" behind a hand-off, writing what they get into one
/// journal; the log takes lines only while `logReady`.
struct Road {
    struct Destination : net::LineOutput {
        Destination(std::string destination, Road& road) : name(destination), owner(road) {}
        void deliver(const net::MessageLines& lines) override {
            for (const std::string& line : lines) {
                owner.journal.push_back(name + " " + line);
            }
        }
        bool ready(std::size_t) override { return name != "log" || owner.logReady; }
        net::OutputCounts counts() const override { return {name}; }
        std::string name;
        Road& owner;
    };

    Road(std::size_t capacity, bool waitForRoom) : handOff(loop.io, capacity, waitForRoom) {
        for (Destination& destination : destinations) {
            handOff.addDestination(nmea, destination);
        }
    }
    ~Road() { loop.stop(); }  // as the run ends: the loop first, then what it served

    /// Hands over a message of `sentences` sentences "<number>.<fragment>", as a chain does.
    void submit(int number, int sentences = 1) {
        ais::AisMessage message;
        message.sentenceCount = sentences;
        for (int fragment = 0; fragment < sentences; ++fragment) {
            const std::string text = std::to_string(number) + "." + std::to_string(fragment + 1);
            std::strcpy(message.sentences[fragment], text.c_str());
        }
        handOff.sink().callback(handOff.sink().context, message);
    }
    /// The journal once everything handed over has been delivered.
    std::vector<std::string> delivered() {
        bool idle = false;
        for (int attempt = 0; attempt < 500 && !idle; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(attempt > 0 ? 10 : 0));
            loop.run([&] { idle = handOff.idle(); });
        }
        std::vector<std::string> copy;
        loop.run([&] { copy = journal; });
        return copy;
    }

    std::vector<std::string> journal;
    std::atomic<bool> logReady{true};
    Destination destinations[3] = {{"tcp", *this}, {"udp", *this}, {"log", *this}};
    format::NmeaFormat nmea;
    IoThread loop;
    app::MessageHandOff handOff;
};

TEST(MessageHandOff, EveryMessageReachesTheDestinationsInTheirOrderAndATunersSurplusIsDropped) {
    Road road(2, false);
    road.logReady = false;  // holds the first message back: the ring fills behind it
    road.submit(1, 2);
    road.submit(2);
    road.submit(3);  // no room: dropped
    EXPECT_EQ(road.handOff.droppedMessages(), 1u);
    road.logReady = true;
    road.delivered();  // room again
    road.submit(4);
    EXPECT_THAT(road.delivered(), testing::ElementsAre("tcp 1.1", "tcp 1.2", "udp 1.1", "udp 1.2",
                                                       "log 1.1", "log 1.2", "tcp 2.1", "udp 2.1",
                                                       "log 2.1", "tcp 4.1", "udp 4.1", "log 4.1"));
}

TEST(MessageHandOff, ARecordingsChannelWaitsForRoomLosingNothingUntilAHaltFreesIt) {
    Road road(1, true);
    road.logReady = false;
    auto channel = std::async(std::launch::async, [&road] {
        for (int number = 1; number <= 3; ++number) {
            road.submit(number);
        }
    });
    EXPECT_EQ(channel.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    road.logReady = true;
    channel.get();
    EXPECT_EQ(road.delivered().size(), 9u);
    EXPECT_EQ(road.handOff.droppedMessages(), 0u);

    road.logReady = false;
    road.submit(4);
    auto waiting = std::async(std::launch::async, [&road] { road.submit(5); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    road.handOff.halt();
    waiting.get();
    EXPECT_EQ(road.handOff.droppedMessages(), 1u);
}

}  // namespace
}  // namespace keelwave::test
