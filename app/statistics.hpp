#pragma once

#include "ais/ais_message.hpp"
#include "ais/decoding_chain.hpp"
#include "net/line_output.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace keelwave::app {

/// Counters that show a station is healthy, logged every `--stats` seconds, one INFO line per
/// channel and one for the stream and the outputs, each over the time since the last:
///
///   Statistics, channel A, last 60 s: 118 messages (type 1: 80, 3: 30, 5: 8), 14 frames
///     failed their FCS, 0 messages dropped, mean level -41.3 dBFS, mean offset +212 Hz
///     (+1.31 ppm)
///   Statistics, last 60 s: 0 raw blocks dropped; server:10110, 2 clients: 236 lines sent,
///     0 queued, 0 dropped; log: 236 lines sent, 0 queued, 0 dropped
///
/// At the end of a recording, the same for the whole run. Everything on the I/O thread.
class Statistics {
public:
    /// Where the counters come from: the chains by channel, the source's dropped blocks, the
    /// hand-off's dropped messages by channel, the outputs.
    struct Sources {
        std::vector<std::pair<char, const ais::DecodingChain*>> chains;
        std::function<uint64_t()> droppedBlocks;
        std::function<uint64_t(char)> droppedMessages;
        std::function<std::vector<net::OutputCounts>()> outputs;
    };

    Statistics(boost::asio::io_context& io, Sources sources);

    /// Counts a message handed to the outputs.
    void count(const ais::AisMessage& message);

    /// Logs the counters every `period` from now on.
    void logEvery(std::chrono::seconds period);

    /// Logs the counters of the whole run.
    void logWholeRun();

    /// The counters of the whole run so far as one object.
    nlohmann::json json() const;

private:
    /// What is counted of one channel, ever.
    struct Channel {
        uint64_t messages = 0;
        std::map<uint32_t, uint64_t> types;  ///< messages by message type
        uint64_t failedFrames = 0;
        uint64_t dropped = 0;
        double levelSum = 0.0;   ///< dBFS, over `measured` messages
        double offsetSum = 0.0;  ///< Hz, over `measured` messages
        uint64_t measured = 0;
    };
    struct Totals {
        std::vector<Channel> channels;
        uint64_t droppedBlocks = 0;
        std::vector<net::OutputCounts> outputs;
    };

    /// The totals now, with the counters the chains, source and outputs keep.
    Totals now() const;
    /// Logs what happened between `before` and `after` over `span`.
    void log(const Totals& after, const Totals& before, const std::string& span) const;
    void wait();

    Sources sources;
    std::vector<Channel> counted;  ///< by the order of `sources.chains`
    boost::asio::steady_timer timer;
    std::chrono::seconds period{0};
    Totals lastReport;
};

}  // namespace keelwave::app
