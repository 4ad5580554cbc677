#pragma once

#include "sdr/sample_handoff.hpp"
#include "sdr/sdr_channel.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

/// The raw stream every source delivers: the tuner's own, or a recording of it made at the same
/// settings (rtl_sdr -f 162000000 -s 288000), unsigned 8-bit I and Q alternating, I first.
/// The tuner is centred between the two AIS channels, 161975000 and 162025000 Hz.
constexpr uint32_t tunerCentreFrequency = 162000000;  // Hz
constexpr uint32_t tunerSampleRate = 288000;          // I/Q pairs per second
/// Bytes per USB transfer, and per block a recording is read in: 51200 I/Q pairs, about
/// 177.8 ms of signal.
constexpr uint32_t tunerBufferLength = 102400;

/// What a source of raw blocks shares with the channels it feeds: the channels themselves,
/// the sample hand-off between them, and the record of the first failure on any of the
/// source's threads. The tuner device and the file source each own one.
///
/// Used in this order: `addChannel` for each channel, `startChannels`, then the source publishes
/// through `handoff`, `stopChannels`. The group (and so the hand-off) must outlive every thread
/// that publishes into it.
class ChannelGroup {
public:
    ChannelGroup() = default;
    /// Stops the channel threads if they still run.
    ~ChannelGroup();
    ChannelGroup(const ChannelGroup&) = delete;
    ChannelGroup& operator=(const ChannelGroup&) = delete;

    /// Takes the channel; keeps the channels sorted by ascending signed frequency (stable) and
    /// sets every channel's oscillator step against the tuner centre.
    void addChannel(std::unique_ptr<SdrChannel> channel);

    /// The channels in start and stop order.
    const std::vector<std::unique_ptr<SdrChannel>>& channelList() const { return channels; }

    SampleHandoff& handoff() { return sampleHandoff; }

    /// Readies the hand-off for the channels, then starts their threads in list order. If a
    /// thread cannot be created, those already started are stopped again and the error
    /// (boost::thread_resource_error) is thrown.
    void startChannels();

    /// `startChannels`, then `startSource`, which starts the thread that publishes; should that
    /// throw, the channels are stopped again and the error is thrown on.
    void startChannelsThen(const std::function<void()>& startSource);

    /// Sets the hand-off's `stopping`, asks every channel thread to end and wakes them, then
    /// joins them in list order: within the block in hand (one 100 ms wait at most, should the
    /// wake-up be missed). Call it only once no thread can publish any more.
    void stopChannels();

    /// True while any channel thread has not been joined.
    bool channelsRunning() const;

    /// Called once, on the failing thread, after the first failure; set it before
    /// `startChannels`. It should only hand the news to the owner's thread (for example stop
    /// the I/O loop); it must not stop the source itself.
    void setFailureCallback(std::function<void()> callback);

    /// The first failure of a channel or source thread, or null. Safe from any thread.
    std::exception_ptr failure() const;

    /// Keeps `failed` if it is the first failure and then calls the failure callback; later
    /// failures are ignored. Safe from any thread.
    void reportFailure(std::exception_ptr failed);

private:
    // Declared before the channels: the channel threads use them until they are joined.
    mutable std::mutex failureLock;
    std::exception_ptr firstFailure;
    std::function<void()> failureCallback;
    SampleHandoff sampleHandoff;
    std::vector<std::unique_ptr<SdrChannel>> channels;
};
