#pragma once

#include "ais/sdr_decoder.hpp"
#include "sdr/channel_demodulator.hpp"

#include <boost/thread/thread.hpp>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

class SampleHandoff;

/// Told, on the failing thread, about an exception that ended a channel or capture thread.
using FailureHandler = std::function<void(std::exception_ptr)>;

/// One AIS channel: its demodulator state, its decoder and the thread that feeds the decoder
/// from the sample hand-off. Built by the run sequence, then owned, started and stopped by the
/// device; `start` and `stop` also serve any other source of raw blocks.
class SdrChannel {
public:
    /// `frequency` in Hz (signed: the device sorts its channels by it); takes the decoder.
    SdrChannel(int32_t frequency, std::unique_ptr<SdrDecoder> decoder);
    /// Stops the thread first if it still runs.
    ~SdrChannel();
    SdrChannel(const SdrChannel&) = delete;
    SdrChannel& operator=(const SdrChannel&) = delete;

    /// Starts the thread on `runChannel`, reading blocks from `source`. An exception escaping
    /// the decoder ends the thread and goes to `onFailure` instead of ending the process.
    /// Throws boost::thread_resource_error when no thread can be created.
    void start(SampleHandoff& source, FailureHandler onFailure);

    /// Asks the thread to end: it sees the request after the block in hand, at the latest when
    /// its 100 ms wait ends.
    void requestStop() { stopRequested = true; }

    /// Asks the thread to end and joins it: within one 100 ms wait plus the block in hand.
    void stop();

    /// True from `start` until `stop` has joined the thread.
    bool running() const { return thread.joinable(); }

    const int32_t frequency;  ///< Hz
    /// Oscillator, decimator and discriminator; the device sets its `phaseIncrement`.
    DemodulatorState demodulator;
    const std::unique_ptr<SdrDecoder> decoder;

    /// Set by the hand-off when it publishes a block, cleared by this channel when it takes the
    /// block; a waiting publisher reads it without `sampleLock`, hence atomic.
    std::atomic<bool> newBlock{false};

private:
    /// The thread body: waits for blocks and demodulates each one while it holds the shared
    /// side of the hand-off's lock; returns once `stopRequested` is seen.
    void runChannel();
    void receiveBlocks();

    boost::thread thread;
    SampleHandoff* handoff = nullptr;
    std::atomic<bool> stopRequested{false};
    FailureHandler failureHandler;
};
