#include "net/tcp_feed.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

#include <utility>

namespace keelwave::net {

namespace {

std::string describeEndpoint(const boost::asio::ip::tcp::endpoint& endpoint) {
    const std::string address = endpoint.address().to_string();
    const std::string port = std::to_string(endpoint.port());
    return endpoint.address().is_v6() ? "[" + address + "]:" + port : address + ":" + port;
}

std::string describeHost(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return "tcp:" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

TcpFeed::TcpFeed(boost::asio::io_context& io, std::string hostName, int destinationPort,
                 bool holdLinesBack, FeedTiming feedTiming, std::size_t queueBytes)
    : host(std::move(hostName)),
      port(destinationPort),
      holdBack(holdLinesBack),
      timing(feedTiming),
      resolver(io),
      socket(io),
      deadline(io),
      retry(io),
      backoff(timing),
      queue(queueBytes),
      outage(describeHost(host, port)) {}

void TcpFeed::start() {
    attempt();
}

void TcpFeed::attempt() {
    state = State::connecting;
    ++round;
    armDeadline(timing.attemptLimit, "no connection within the time allowed");
    // Asked anew every time: the aggregator's address may have changed since the last.
    resolver.async_resolve(host, std::to_string(port),
                           boost::asio::ip::tcp::resolver::numeric_service,
                           [self = shared_from_this(), current = round](
                               const boost::system::error_code& error,
                               const boost::asio::ip::tcp::resolver::results_type& results) {
                               self->handleResolve(current, error, results);
                           });
}

void TcpFeed::handleResolve(uint64_t current, const boost::system::error_code& error,
                            const boost::asio::ip::tcp::resolver::results_type& results) {
    if (current != round) {
        return;
    }
    if (error) {
        fail("cannot resolve " + host + ": " + error.message());
        return;
    }
    boost::asio::async_connect(
        socket, results,
        [self = shared_from_this(), current](const boost::system::error_code& failed,
                                             const boost::asio::ip::tcp::endpoint& peer) {
            self->handleConnect(current, failed, peer);
        });
}

void TcpFeed::handleConnect(uint64_t current, const boost::system::error_code& error,
                            const boost::asio::ip::tcp::endpoint& peer) {
    if (current != round) {
        return;
    }
    if (error) {
        fail("cannot connect: " + error.message());
        return;
    }
    deadline.expires_at(std::chrono::steady_clock::time_point::max());
    tuneFeedSocket(socket.native_handle());
    state = State::connected;
    connectedAt = std::chrono::steady_clock::now();
    outage.connected(describeEndpoint(peer), queue.droppedLines());
    startReading();
    if (!queue.empty()) {
        startWrite();
    }
}

void TcpFeed::armDeadline(std::chrono::steady_clock::duration limit, const char* reason) {
    deadline.expires_after(limit);
    deadline.async_wait([self = shared_from_this(), current = round,
                         reason](const boost::system::error_code& error) {
        // A deadline put off after it had already expired still arrives here: the round
        // tells it apart, and the expiry, set far ahead when a write ends.
        if (!error && current == self->round &&
            self->deadline.expiry() <= std::chrono::steady_clock::now()) {
            self->fail(reason);
        }
    });
}

void TcpFeed::startReading() {
    socket.async_read_some(boost::asio::buffer(readBuffer),
                           [self = shared_from_this(), current = round](
                               const boost::system::error_code& error, std::size_t) {
                               if (current != self->round) {
                                   return;
                               }
                               if (!error) {
                                   self->startReading();  // whatever it says is of no interest
                               } else if (error == boost::asio::error::eof) {
                                   self->fail("closed by the peer");
                               } else {
                                   self->fail("connection lost: " + error.message());
                               }
                           });
}

void TcpFeed::deliver(const MessageLines& lines) {
    if (state == State::stopped) {
        return;
    }
    FeedQueue::Entry entry;
    for (const std::string& line : lines) {
        entry.payload += line + "\r\n";
    }
    entry.lines = static_cast<uint32_t>(lines.size());
    queue.push(std::move(entry));
    if (state == State::connected && inFlight.empty()) {
        startWrite();
    }
}

void TcpFeed::startWrite() {
    std::vector<boost::asio::const_buffer> buffers;
    std::size_t bytes = 0;
    while (!queue.empty() &&
           (inFlight.empty() || bytes + queue.front().payload.size() <= writeBatchBytes)) {
        bytes += queue.front().payload.size();
        inFlight.push_back(queue.pop());
    }
    for (const FeedQueue::Entry& entry : inFlight) {
        buffers.push_back(boost::asio::buffer(entry.payload));
    }
    armDeadline(timing.stallLimit, "the peer took nothing for too long");
    boost::asio::async_write(socket, buffers,
                             [self = shared_from_this(), current = round](
                                 const boost::system::error_code& error, std::size_t) {
                                 self->handleWrite(current, error);
                             });
}

void TcpFeed::handleWrite(uint64_t current, const boost::system::error_code& error) {
    if (current != round) {
        return;
    }
    if (error) {
        fail("connection lost: " + error.message());
        return;
    }
    deadline.expires_at(std::chrono::steady_clock::time_point::max());
    for (const FeedQueue::Entry& entry : inFlight) {
        sent += entry.lines;
    }
    inFlight.clear();
    if (!queue.empty()) {
        startWrite();
    }
}

void TcpFeed::fail(const std::string& reason) {
    const auto now = std::chrono::steady_clock::now();
    // A connection that carried lines for a while was a good one: the waits start again. One
    // that ends stuck in a write (a peer that stopped reading) was not.
    if (state == State::connected && now - connectedAt >= timing.steadyConnection &&
        inFlight.empty()) {
        backoff.reset();
    }
    ++round;
    state = State::waiting;
    boost::system::error_code ignored;
    socket.close(ignored);
    resolver.cancel();
    deadline.expires_at(std::chrono::steady_clock::time_point::max());
    // What was being written may not have arrived: it goes again, first, on the next connection.
    for (auto entry = inFlight.rbegin(); entry != inFlight.rend(); ++entry) {
        queue.pushFront(std::move(*entry));
    }
    inFlight.clear();
    outage.failed(reason, queue.droppedLines());
    retry.expires_after(backoff.next());
    retry.async_wait(
        [self = shared_from_this(), current = round](const boost::system::error_code& error) {
            if (!error && current == self->round) {
                self->attempt();
            }
        });
}

bool TcpFeed::ready(std::size_t count) {
    static_cast<void>(count);
    return !holdBack || state != State::connected || queue.hasRoom();
}

bool TcpFeed::pending() const {
    // Not while an outage lasts: the end of a recording waits for a feed that may still take
    // its lines (the first connection included), not for one that is down.
    return state != State::stopped && !outage.down() && (!queue.empty() || !inFlight.empty());
}

void TcpFeed::stop() {
    if (state == State::stopped) {
        return;
    }
    state = State::stopped;
    ++round;
    boost::system::error_code ignored;
    socket.close(ignored);
    resolver.cancel();
    deadline.expires_at(std::chrono::steady_clock::time_point::max());
    retry.cancel();
}

OutputCounts TcpFeed::counts() const {
    uint64_t writing = 0;
    for (const FeedQueue::Entry& entry : inFlight) {
        writing += entry.lines;
    }
    return {describeHost(host, port), sent, queue.queuedLines() + writing, queue.droppedLines(),
            -1};
}

}  // namespace keelwave::net
