#pragma once

#include "net/feed_link.hpp"
#include "net/line_output.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace keelwave::net {

/// The `tcp:HOST:PORT` output: connects out to an aggregator and writes every line, ended by
/// CR LF, for as long as the run lasts, reconnecting whenever the connection fails. On the I/O
/// thread alone:
///
///     attempt ──► resolve ──► connect ──► Connected: read (to notice the end), write batches
///       ▲   └ no answer within attemptLimit ─┐          │ error, end, a write stalled
///       │                                    ▼          ▼ for stallLimit
///       └──────────── back-off wait ◄──────── failure: ERROR once per outage
///
/// The host is looked up again at every attempt: an aggregator's address may change. Lines
/// wait in a bounded queue while the connection is down or slow (oldest dropped first,
/// counted); a write cut short by a failure is sent again whole on the next connection. Always
/// held by std::shared_ptr: pending handlers keep it alive.
class TcpFeed : public LineOutput, public std::enable_shared_from_this<TcpFeed> {
public:
    /// `host` is a name or an address of either kind; `port` 1..65535. `holdBack`: a recording,
    /// which waits while the aggregator is connected but slow rather than lose a line.
    TcpFeed(boost::asio::io_context& io, std::string host, int port, bool holdBack,
            FeedTiming timing = {}, std::size_t queueBytes = FeedQueue::defaultCapacityBytes);
    TcpFeed(const TcpFeed&) = delete;
    TcpFeed& operator=(const TcpFeed&) = delete;

    /// Makes the first attempt.
    void start();

    void deliver(const MessageLines& lines) override;
    bool ready(std::size_t count) override;
    bool pending() const override;
    void stop() override;
    OutputCounts counts() const override;

private:
    enum class State { idle, connecting, connected, waiting, stopped };

    void attempt();
    void handleResolve(uint64_t round, const boost::system::error_code& error,
                       const boost::asio::ip::tcp::resolver::results_type& results);
    void handleConnect(uint64_t round, const boost::system::error_code& error,
                       const boost::asio::ip::tcp::endpoint& peer);
    /// Arms the deadline for the current round: the attempt, or the write in flight.
    void armDeadline(std::chrono::steady_clock::duration limit, const char* reason);
    void startReading();
    void startWrite();
    void handleWrite(uint64_t round, const boost::system::error_code& error);
    /// Ends the connection or the attempt of this round and waits before the next.
    void fail(const std::string& reason);

    /// Most bytes one write takes, so that the stall limit measures a write of a sensible size.
    static constexpr std::size_t writeBatchBytes = 64 * 1024;
    /// The aggregator has nothing to say; a read only notices that the connection has ended.
    static constexpr std::size_t readBufferBytes = 256;

    const std::string host;
    const int port;
    const bool holdBack;
    const FeedTiming timing;
    boost::asio::ip::tcp::resolver resolver;
    boost::asio::ip::tcp::socket socket;
    boost::asio::steady_timer deadline;  ///< the attempt limit, then each write's stall limit
    boost::asio::steady_timer retry;     ///< the back-off wait
    State state = State::idle;
    uint64_t round = 0;  ///< bumped by every attempt and failure: older handlers stand down
    ReconnectBackoff backoff;
    FeedQueue queue;
    OutageReport outage;
    std::vector<FeedQueue::Entry> inFlight;
    std::array<char, readBufferBytes> readBuffer{};
    std::chrono::steady_clock::time_point connectedAt;
    uint64_t sent = 0;  ///< lines the connection took
};

}  // namespace keelwave::net
