#include "sdr/sample_source.hpp"

#include <algorithm>

namespace keelwave::sdr {

void SampleSource::addChannel(std::unique_ptr<SdrChannel> channel) {
    channels.push_back(std::move(channel));
    std::stable_sort(channels.begin(), channels.end(),
                     [](const auto& a, const auto& b) { return a->frequency < b->frequency; });
}

void SampleSource::start() {
    feed = &prepareFeed(channels.size());
    try {
        for (std::size_t reader = 0; reader < channels.size(); ++reader) {
            channels[reader]->start(*feed, reader,
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
    if (feed != nullptr) {
        feed->halt();
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
