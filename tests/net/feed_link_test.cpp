// What the feeds that connect out share: the back-off between attempts, the bounded queue, and
// the broker's address with its topic template.
#include "net/feed_link.hpp"
#include "net/mqtt_settings.hpp"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

namespace keelwave::test {
namespace {

using namespace net;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(ReconnectBackoff, DoublesUpToTheLongestWaitEachCutByAtMostAQuarter) {
    std::set<std::chrono::steady_clock::duration> firstWaits;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        ReconnectBackoff backoff(FeedTiming{}, seed);
        for (const int step : {1, 2, 4, 8, 16, 32, 60, 60, 60}) {
            const auto wait = backoff.next();
            EXPECT_LE(wait, seconds(step));
            EXPECT_GE(wait, milliseconds(750 * step));
        }
        backoff.reset();
        firstWaits.insert(backoff.next());
        EXPECT_LE(*firstWaits.rbegin(), seconds(1));
    }
    EXPECT_GT(firstWaits.size(), 10u);  // stations that failed together come back apart
}

TEST(FeedQueue, DropsTheOldestPastItsBoundAndCountsTheirLines) {
    const std::size_t entry = sizeof(FeedQueue::Entry);
    FeedQueue queue(2 * entry + 10);  // two entries and ten bytes of text
    queue.push({"", "aaaa", 1});
    queue.push({"", "bbbb", 1});
    EXPECT_FALSE(queue.hasRoom());  // past three quarters
    queue.push({"t", "ccc", 2});    // one more entry: "aaaa" goes
    EXPECT_EQ(queue.droppedLines(), 1u);
    EXPECT_EQ(queue.queuedLines(), 3u);
    queue.pushFront(queue.pop());  // a message that could not be sent goes back first
    EXPECT_EQ(queue.pop().payload, "bbbb");
    EXPECT_EQ(queue.pop().payload, "ccc");
    EXPECT_TRUE(queue.hasRoom());
    queue.push({"", std::string(3 * entry, 'x'), 1});  // alone over the bound: the newest stays
    EXPECT_EQ(queue.pop().lines, 1u);
    EXPECT_TRUE(queue.empty());
}

TEST(MqttSettings, ReadsTheBrokerAndTheTopicOrSaysWhatIsWrong) {
    struct Case {
        const char* address;
        bool tls;
        const char* expected;  // user|password|host|port|topic, or the error's beginning
    };
    const Case cases[] = {
        {"//broker", false, "||broker|1883|ais/{station}"},
        {"//broker/", true, "||broker|8883|ais/{station}"},
        {"//u:p%40s%2Cs@broker:1884/ais/{station}/{type}", false,
         "u|p@s,s|broker|1884|ais/{station}/{type}"},
        {"//reader@[::1]:8884/a/{channel}/{mmsi}", true, "reader||::1|8884|a/{channel}/{mmsi}"},
        {"broker", false, "the broker must follow '//'"},
        {"//", false, "no broker host"},
        {"//u:p@:1883", false, "no broker host"},
        {"//h:0", false, "the port must be a number from 1 to 65535"},
        {"//h:65536", false, "the port must be a number from 1 to 65535"},
        {"//h:1x", false, "the port must be a number from 1 to 65535"},
        {"//:secret@h", false, "a password needs a user name"},
        {"//u:%zz@h", false, "a '%' in the user or password must begin %XX"},
        {"//[::1/t", false, "an IPv6 broker is written [ADDRESS] or [ADDRESS]:PORT"},
        {"//h/ais/+/x", false, "a topic to publish to has no wildcard"},
        {"//h/ais/#", false, "a topic to publish to has no wildcard"},
        {"//h/ais/{ship}", false, "the topic may hold {station}, {channel}, {type} and {mmsi}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        std::string got;
        try {
            const MqttSettings s = parseMqttAddress(c.address, c.tls);
            got = s.user + "|" + s.password + "|" + s.host + "|" + std::to_string(s.port) + "|" +
                  s.topic;
            EXPECT_EQ(s.tls, c.tls);
        } catch (const std::invalid_argument& wrong) {
            got = wrong.what();
        }
        EXPECT_EQ(got.substr(0, std::string(c.expected).size()), c.expected);
    }
}

TEST(MqttSettings, FillsTopicsAndNeverShowsThePassword) {
    EXPECT_EQ(fillTopic("ais/{station}/{channel}/{type}/{mmsi}/x", "mast1",
                        MessageKeys{'B', 5, 244660645}),
              "ais/mast1/B/5/244660645/x");
    MqttSettings settings = parseMqttAddress("//u:secret@[::1]/ais/{station}", true);
    EXPECT_EQ(describeBroker(settings), "mqtts://[::1]:8883/ais/{station}");
    EXPECT_EQ(hidePassword("mqtt://u:secret@h:1883/t,qos=1"), "mqtt://u:****@h:1883/t,qos=1");
    EXPECT_EQ(hidePassword("mqtt://u@h/t"), "mqtt://u@h/t");
    EXPECT_EQ(hidePassword("mqtt://h/me@sea,qos=1"), "mqtt://h/me@sea,qos=1");
    EXPECT_EQ(hidePassword("udp:h:1"), "udp:h:1");
}

}  // namespace
}  // namespace keelwave::test
