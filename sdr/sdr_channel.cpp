#include "sdr/sdr_channel.hpp"

#include <utility>

namespace keelwave::sdr {

SdrChannel::SdrChannel(int32_t channelFrequency, std::unique_ptr<ais::DecodingChain> decodingChain)
    : frequency(channelFrequency), chain(std::move(decodingChain)) {}

SdrChannel::~SdrChannel() {
    join();
}

void SdrChannel::start(BlockFeed& source, std::size_t readerIndex, FailureHandler onFailure) {
    feed = &source;
    reader = readerIndex;
    failureHandler = std::move(onFailure);
    thread = boost::thread(&SdrChannel::runChannel, this);
}

void SdrChannel::join() {
    if (thread.joinable()) {
        thread.join();
    }
}

void SdrChannel::runChannel() {
    try {
        RawBlock block;
        while (feed->nextBlock(reader, block)) {
            if (block.count >= 2) {
                chain->processBlock(block.samples, block.count);
            }
            if (block.last) {
                chain->finish();
            }
            feed->doneWith(reader);
        }
    } catch (...) {
        // Nothing on this thread can recover: the source hears of it and the run ends.
        failureHandler(std::current_exception());
    }
}

}  // namespace keelwave::sdr
