#include "sdr/channel_group.hpp"

#include <algorithm>
#include <utility>

ChannelGroup::~ChannelGroup() {
    if (channelsRunning()) {
        stopChannels();
    }
}

void ChannelGroup::addChannel(std::unique_ptr<SdrChannel> channel) {
    channels.push_back(std::move(channel));
    std::stable_sort(channels.begin(), channels.end(),
                     [](const auto& a, const auto& b) { return a->frequency < b->frequency; });
    for (const auto& each : channels) {
        each->demodulator.phaseIncrement =
            channelPhaseIncrement(each->frequency, tunerCentreFrequency);
    }
}

void ChannelGroup::startChannels() {
    std::vector<SdrChannel*> readers;
    for (const auto& channel : channels) {
        readers.push_back(channel.get());
    }
    sampleHandoff.prepare(readers, SampleHandoff::defaultCapacity);
    try {
        for (const auto& channel : channels) {
            channel->start(sampleHandoff,
                           [this](std::exception_ptr failed) { reportFailure(failed); });
        }
    } catch (...) {
        stopChannels();
        throw;
    }
}

void ChannelGroup::startChannelsThen(const std::function<void()>& startSource) {
    startChannels();
    try {
        startSource();
    } catch (...) {
        stopChannels();
        throw;
    }
}

void ChannelGroup::stopChannels() {
    sampleHandoff.beginStop();
    for (const auto& channel : channels) {
        channel->requestStop();
    }
    // Without the wake-up each channel would end only when its wait ran out: a tenth of a
    // second at every stop, most of the time a short recording takes to decode.
    sampleHandoff.wakeChannels();
    for (const auto& channel : channels) {
        channel->stop();
    }
}

bool ChannelGroup::channelsRunning() const {
    return std::any_of(channels.begin(), channels.end(),
                       [](const auto& channel) { return channel->running(); });
}

void ChannelGroup::setFailureCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> guard(failureLock);
    failureCallback = std::move(callback);
}

std::exception_ptr ChannelGroup::failure() const {
    std::lock_guard<std::mutex> guard(failureLock);
    return firstFailure;
}

void ChannelGroup::reportFailure(std::exception_ptr failed) {
    std::function<void()> callback;
    {
        std::lock_guard<std::mutex> guard(failureLock);
        if (firstFailure) {
            return;
        }
        firstFailure = failed;
        callback = failureCallback;
    }
    if (callback) {
        callback();
    }
}
