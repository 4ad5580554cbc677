#include "sdr/sdr_channel.hpp"

#include "sdr/sample_handoff.hpp"

#include <boost/thread/shared_mutex.hpp>
#include <boost/thread/thread_time.hpp>

#include <utility>

SdrChannel::SdrChannel(int32_t channelFrequency, std::unique_ptr<SdrDecoder> channelDecoder)
    : frequency(channelFrequency), decoder(std::move(channelDecoder)) {}

SdrChannel::~SdrChannel() {
    stop();
}

void SdrChannel::start(SampleHandoff& source, FailureHandler onFailure) {
    handoff = &source;
    failureHandler = std::move(onFailure);
    stopRequested = false;
    thread = boost::thread(&SdrChannel::runChannel, this);
}

void SdrChannel::stop() {
    stopRequested = true;
    if (thread.joinable()) {
        thread.join();
    }
}

void SdrChannel::runChannel() {
    try {
        receiveBlocks();
    } catch (...) {
        // Nothing on this thread can recover: the owner hears of it and ends the run.
        if (failureHandler) {
            failureHandler(std::current_exception());
        }
    }
}

void SdrChannel::receiveBlocks() {
    boost::shared_lock<boost::shared_mutex> shared(handoff->sampleLock);
    while (!stopRequested) {
        const boost::system_time deadline =
            boost::get_system_time() + boost::posix_time::microseconds(handoffWaitMicroseconds);
        // The wait's verdict is not trusted: Boost reports a timeout whenever the deadline has
        // passed by the time the shared side is held again, also after a notification, and a
        // channel scheduled that late would lose a block that was published whole. Only a
        // publication sets `newBlock`, so the flag alone tells whether a block waits.
        handoff->sampleReady.timed_wait(shared, deadline);
        if (!newBlock) {
            continue;
        }
        newBlock = false;
        handoff->noteTaken();
        const uint32_t count = handoff->sampleCount;
        if (count >= 2) {
            demodulateBlock(demodulator, handoff->sampleBuffer.get(), count, *decoder);
        }
        if (handoff->inputEnded) {
            flushBlock(demodulator, *decoder);
        }
    }
}
