#pragma once

#include "net/line_output.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <utility>

namespace keelwave::net {

/// How a feed that connects out (a TCP aggregator, an MQTT broker) paces itself. The defaults
/// are the program's; tests shorten them.
struct FeedTiming {
    /// The first wait after a failed attempt; each further failure doubles it up to `longestWait`.
    std::chrono::steady_clock::duration firstWait = std::chrono::seconds(1);
    std::chrono::steady_clock::duration longestWait = std::chrono::seconds(60);
    /// Longest an attempt may take, from the lookup to a connection ready to carry messages
    /// (for MQTT, the broker's acknowledgement); a host that swallows the connection request
    /// would otherwise hold the feed for the two minutes the system tries.
    std::chrono::steady_clock::duration attemptLimit = std::chrono::seconds(30);
    /// Longest a write may wait for the peer to take it: a peer that accepts and never reads
    /// is given up as dead after this, as a dead path is by keep-alive.
    std::chrono::steady_clock::duration stallLimit = std::chrono::seconds(60);
    /// A connection that lasted this long starts the waits again from `firstWait`; one that
    /// breaks sooner (a peer that accepts and closes at once) keeps backing off, as does one
    /// given up in a stalled write.
    std::chrono::steady_clock::duration steadyConnection = std::chrono::seconds(10);
};

/// The waits between attempts to reach a destination that is down: `firstWait`, twice that,
/// and so on up to `longestWait`, each shortened by a random part of up to a quarter, so that
/// stations that lost their broker at the same moment do not all come back at the same moment.
class ReconnectBackoff {
public:
    explicit ReconnectBackoff(const FeedTiming& timing, uint32_t seed = std::random_device()());

    /// The wait before the next attempt; the step after it is twice as long, up to the longest.
    std::chrono::steady_clock::duration next();
    /// A connection has held: the next wait is the first again.
    void reset() { step = first; }

private:
    std::chrono::steady_clock::duration first;
    std::chrono::steady_clock::duration longest;
    std::chrono::steady_clock::duration step;
    std::minstd_rand random;
};

/// What a feed holds while its destination is slow or down: whole messages, oldest first,
/// bounded by the memory they take. Past the bound the oldest go, and their lines are counted.
class FeedQueue {
public:
    struct Entry {
        std::string topic;    ///< where it goes (MQTT); empty for a plain stream
        std::string payload;  ///< the message's bytes as they will be sent
        uint32_t lines = 0;   ///< lines of the message it carries, for the counts
    };

    /// A mebibyte per destination, as for a client of the server, its bookkeeping included:
    /// some 7000 NMEA sentences (minutes of a busy harbour), 1800 messages as JSON.
    static constexpr std::size_t defaultCapacityBytes = 1024 * 1024;

    explicit FeedQueue(std::size_t capacityBytes = defaultCapacityBytes)
        : capacity(capacityBytes) {}

    /// Appends a message, dropping the oldest while the bound is passed.
    void push(Entry entry);
    /// Puts a message that could not be sent back at the front, where it came from.
    void pushFront(Entry entry);
    Entry pop();
    const Entry& front() const { return entries.front(); }
    bool empty() const { return entries.empty(); }
    /// True while fewer than three quarters of the bound are taken: room for a burst.
    bool hasRoom() const { return bytes < capacity / 4 * 3; }
    uint64_t queuedLines() const { return lines; }
    uint64_t droppedLines() const { return dropped; }

private:
    void trim();

    std::size_t capacity;
    std::deque<Entry> entries;
    std::size_t bytes = 0;  ///< what `entries` hold in memory
    uint64_t lines = 0;     ///< lines of `entries`
    uint64_t dropped = 0;
};

/// The log of a feed's connection: one INFO line when it connects, one ERROR line when an
/// outage begins (the first failure, with its reason), none for the retries in between.
class OutageReport {
public:
    /// `name` is the destination as the statistics show it, without credentials.
    explicit OutageReport(std::string destination) : name(std::move(destination)) {}

    /// "NAME: connected to ADDRESS", and after an outage how long it lasted and what it cost.
    void connected(const std::string& address, uint64_t droppedLines);
    /// "NAME: REASON, retrying with back-off" if no outage is under way yet.
    void failed(const std::string& reason, uint64_t droppedLines);
    bool down() const { return outage; }

private:
    std::string name;
    bool outage = false;
    std::chrono::steady_clock::time_point since;
    uint64_t droppedBefore = 0;
};

/// Tunes a connected TCP socket so that a dead path is noticed within about a minute even
/// while nothing is sent: keep-alive probes after 20 s of silence, every 10 s, 4 unanswered
/// ending it; and data the peer has not acknowledged for 60 s ends it too.
void tuneFeedSocket(int descriptor);

}  // namespace keelwave::net
