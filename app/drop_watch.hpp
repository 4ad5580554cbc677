#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace keelwave::app {

/// Tells the log, at most once a minute and at the end of the run, how many of each thing the
/// receiver had to drop: raw blocks the channels were too slow for, messages the outputs were
/// too slow for. A receiver too slow for its machine loses messages, and says so. Nothing is
/// logged while nothing is dropped.
class DropWatch {
public:
    /// A count that only grows: "raw blocks", "the channels could not keep up".
    struct Counter {
        std::function<uint64_t()> read;
        std::string things;
        std::string reason;
        uint64_t reported = 0;  ///< up to the last report
    };

    DropWatch(boost::asio::io_context& io, std::vector<Counter> counters);

    /// Once the receiver has stopped: what was dropped since the last report, if anything.
    void reportEnd();

private:
    void wait();
    /// Logs each count that grew: every minute (`periodic`), or at the end of the run.
    void report(bool periodic);

    static constexpr std::chrono::seconds period{60};

    boost::asio::steady_timer timer;
    std::vector<Counter> counters;
};

}  // namespace keelwave::app
