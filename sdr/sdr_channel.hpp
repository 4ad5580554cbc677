#pragma once

#include "ais/decoding_chain.hpp"
#include "sdr/block_feed.hpp"

#include <boost/thread/thread.hpp>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

namespace keelwave::sdr {

/// Told, on the failing thread, about an exception that ended a channel or source thread.
using FailureHandler = std::function<void(std::exception_ptr)>;

/// One AIS channel: its decoding chain and the thread that feeds the chain every raw block of
/// the source. Built by the run sequence, then owned, started and joined by the source.
class SdrChannel {
public:
    /// `frequency` in Hz (signed: the source sorts its channels by it); takes the chain.
    SdrChannel(int32_t frequency, std::unique_ptr<ais::DecodingChain> chain);
    /// Joins the thread if it was started; halt its feed first.
    ~SdrChannel();
    SdrChannel(const SdrChannel&) = delete;
    SdrChannel& operator=(const SdrChannel&) = delete;

    /// Starts the thread on `runChannel`, reading the blocks of `feed` as `reader`. An
    /// exception that escapes the chain ends the thread and goes to `onFailure`. Throws
    /// boost::thread_resource_error when no thread can be created.
    void start(BlockFeed& feed, std::size_t reader, FailureHandler onFailure);

    /// Joins the thread, which ends once its feed is halted: within the block in hand.
    void join();

    const int32_t frequency;  ///< Hz

private:
    /// The thread body: every block of the feed through the chain, until the feed halts.
    void runChannel();

    const std::unique_ptr<ais::DecodingChain> chain;
    BlockFeed* feed = nullptr;
    std::size_t reader = 0;
    FailureHandler failureHandler;
    boost::thread thread;
};

}  // namespace keelwave::sdr
