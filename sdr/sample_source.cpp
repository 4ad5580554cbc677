#include "sdr/sample_source.hpp"

#include <algorithm>

namespace keelwave::sdr {

SampleSource::SampleSource(std::size_t blocksInRing, uint32_t bytesPerBlock)
    : ringSize(blocksInRing), ringBlockBytes(bytesPerBlock) {}

void SampleSource::addChannel(std::unique_ptr<ChannelThread> channel) {
    channels.push_back(std::move(channel));
    std::stable_sort(channels.begin(), channels.end(),
                     [](const auto& a, const auto& b) { return a->offsetHz < b->offsetHz; });
}

void SampleSource::start() {
    ring = std::make_shared<BlockRing>(channels.size(), ringSize, ringBlockBytes);
    try {
        for (std::size_t reader = 0; reader < channels.size(); ++reader) {
            channels[reader]->start(*ring, reader,
                                    [this](std::exception_ptr failed) { reportEnd(failed); });
        }
        startPublishing();
    } catch (...) {
        stopChannels();
        throw;
    }
}

std::optional<std::string> SampleSource::stop() {
    std::optional<std::string> problem = stopPublishing();
    stopChannels();
    return problem;
}

void SampleSource::stopChannels() {
    if (ring) {
        ring->halt();
    }
    for (const auto& channel : channels) {
        channel->join();
    }
}

std::exception_ptr SampleSource::failure() const {
    const std::lock_guard<std::mutex> guard(endLock);
    return firstFailure;
}

void SampleSource::reportEnd(std::exception_ptr failed) {
    {
        const std::lock_guard<std::mutex> guard(endLock);
        if (failed && !firstFailure) {
            firstFailure = failed;
        }
        if (endReported) {
            return;
        }
        endReported = true;
    }
    if (endHandler) {
        endHandler();
    }
}

}  // namespace keelwave::sdr
