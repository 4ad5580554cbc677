#pragma once

#include "ais/decoding_chain.hpp"
#include "sdr/block_ring.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace keelwave::sdr {

/// Told, on the failing thread, about an exception that ended a channel or source thread.
using FailureHandler = std::function<void(std::exception_ptr)>;

/// One AIS channel: its decoding chain and the thread that feeds the chain every raw block of
/// the source, as samples. Built by the run sequence, then owned, started and joined by the
/// source.
class ChannelThread {
public:
    /// `offsetHz` from the tuner's centre (the source orders its channels by it); takes the
    /// chain.
    ChannelThread(int32_t offsetHz, std::unique_ptr<ais::DecodingChain> chain);
    /// Joins the thread if it was started; halt its ring first.
    ~ChannelThread();
    ChannelThread(const ChannelThread&) = delete;
    ChannelThread& operator=(const ChannelThread&) = delete;

    /// Starts the thread on `runChannel`, reading the blocks of `ring` as `reader`. An
    /// exception that escapes the chain ends the thread and goes to `onFailure`. Throws
    /// std::system_error when no thread can be created.
    void start(BlockRing& ring, std::size_t reader, FailureHandler onFailure);

    /// Joins the thread, which ends once its ring is halted: within the block in hand.
    void join();

    const int32_t offsetHz;

private:
    /// The thread body: every block of the ring through the chain, until the ring halts.
    void runChannel();

    const std::unique_ptr<ais::DecodingChain> chain;
    std::vector<float> samples;  ///< the block in hand as the chain reads it
    BlockRing* ring = nullptr;
    std::size_t reader = 0;
    FailureHandler failureHandler;
    std::thread thread;
};

}  // namespace keelwave::sdr
