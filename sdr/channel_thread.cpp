#include "sdr/channel_thread.hpp"

#include "base/tuner_stream.hpp"

#include <utility>

namespace keelwave::sdr {

ChannelThread::ChannelThread(int32_t channelOffsetHz,
                             std::unique_ptr<ais::DecodingChain> decodingChain)
    : offsetHz(channelOffsetHz), chain(std::move(decodingChain)) {}

ChannelThread::~ChannelThread() {
    join();
}

void ChannelThread::start(BlockRing& source, std::size_t readerIndex, FailureHandler onFailure) {
    ring = &source;
    reader = readerIndex;
    samples.resize(source.blockBytes());
    failureHandler = std::move(onFailure);
    thread = std::thread(&ChannelThread::runChannel, this);
}

void ChannelThread::join() {
    if (thread.joinable()) {
        thread.join();
    }
}

void ChannelThread::runChannel() {
    try {
        RawBlock block;
        while (ring->nextBlock(reader, block)) {
            for (uint32_t n = 0; n < block.count; ++n) {
                samples[n] = base::sampleValue(block.bytes[n]);
            }
            if (block.count >= 2) {
                chain->processBlock({samples.data(), block.count, block.firstPair, block.afterGap});
            }
            if (block.last) {
                chain->finish();
            }
            ring->doneWith(reader);
        }
    } catch (...) {
        // Nothing on this thread can recover: the source hears of it and the run ends.
        failureHandler(std::current_exception());
    }
}

}  // namespace keelwave::sdr
