#pragma once

#include "sdr/sample_source.hpp"

#include <boost/asio/io_service.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>

namespace keelwave::app {

/// Tells the log, at most once a minute and at the end of the run, how many raw blocks the
/// source dropped because the channels were still busy with the one before: a receiver too
/// slow for its machine loses messages, and says so. Nothing is logged while no block is dropped.
class DropWatch {
public:
    DropWatch(boost::asio::io_service& io, const sdr::SampleSource& source);

    /// Once the source has stopped: the blocks dropped since the last report, if any.
    void reportEnd();

private:
    void wait();
    /// `since`: the time the count is over, or none when it is the first and the last.
    void report(const char* since);

    static constexpr std::chrono::seconds period{60};

    boost::asio::steady_timer timer;
    const sdr::SampleSource& source;
    uint64_t reported = 0;  ///< blocks dropped up to the last report
};

}  // namespace keelwave::app
