#include "net/feed_link.hpp"

#include "base/logger.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <utility>

namespace keelwave::net {

ReconnectBackoff::ReconnectBackoff(const FeedTiming& timing, uint32_t seed)
    : first(timing.firstWait), longest(timing.longestWait), step(first), random(seed) {}

std::chrono::steady_clock::duration ReconnectBackoff::next() {
    const auto wait = step;
    step = std::min(step * 2, longest);
    // Up to a quarter off: never longer than the step, so the longest wait is the longest.
    std::uniform_int_distribution<std::chrono::steady_clock::rep> cut(0, wait.count() / 4);
    return wait - std::chrono::steady_clock::duration(cut(random));
}

namespace {

/// What an entry holds in memory: its text and its own bookkeeping.
std::size_t footprint(const FeedQueue::Entry& entry) {
    return sizeof entry + entry.topic.size() + entry.payload.size();
}

}  // namespace

void FeedQueue::push(Entry entry) {
    bytes += footprint(entry);
    lines += entry.lines;
    entries.push_back(std::move(entry));
    trim();
}

void FeedQueue::pushFront(Entry entry) {
    bytes += footprint(entry);
    lines += entry.lines;
    entries.push_front(std::move(entry));
    trim();
}

FeedQueue::Entry FeedQueue::pop() {
    Entry entry = std::move(entries.front());
    entries.pop_front();
    bytes -= footprint(entry);
    lines -= entry.lines;
    return entry;
}

void FeedQueue::trim() {
    // The newest message stays even when it alone is over the bound.
    while (bytes > capacity && entries.size() > 1) {
        dropped += pop().lines;
    }
    if (entries.empty()) {
        // A deque keeps blocks it once needed; an empty queue gives them back.
        std::deque<Entry>().swap(entries);
    }
}

void OutageReport::connected(const std::string& address, uint64_t droppedLines) {
    std::string text = name + ": connected to " + address;
    if (outage) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::steady_clock::now() - since);
        text += " after " + std::to_string(seconds.count()) + " s down, " +
                std::to_string(droppedLines - droppedBefore) + " lines dropped";
    }
    outage = false;
    base::Logger::instance().log(base::Logger::INFO, text);
}

void OutageReport::failed(const std::string& reason, uint64_t droppedLines) {
    if (outage) {
        return;
    }
    outage = true;
    since = std::chrono::steady_clock::now();
    droppedBefore = droppedLines;
    base::Logger::instance().log(base::Logger::ERROR,
                                 name + ": " + reason + ", retrying with back-off");
}

void tuneFeedSocket(int descriptor) {
    constexpr int keepAliveIdleSeconds = 20;
    constexpr int keepAliveIntervalSeconds = 10;
    constexpr int keepAliveProbeCount = 4;
    constexpr unsigned int unacknowledgedLimitMs = 60000;
    const int on = 1;
    // A tuning the system refuses costs only the early notice; the results are ignored.
    ::setsockopt(descriptor, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, &keepAliveIdleSeconds,
                 sizeof keepAliveIdleSeconds);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, &keepAliveIntervalSeconds,
                 sizeof keepAliveIntervalSeconds);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPCNT, &keepAliveProbeCount,
                 sizeof keepAliveProbeCount);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledgedLimitMs,
                 sizeof unacknowledgedLimitMs);
}

}  // namespace keelwave::net
