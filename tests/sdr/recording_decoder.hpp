#pragma once

#include "ais/sdr_decoder.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

/// The two AIS channels.
constexpr int32_t channelA = 161975000;  // Hz
constexpr int32_t channelB = 162025000;  // Hz

/// A decoder that keeps everything it is given, for the channel and device tests. Safe to read
/// from the test thread while a channel thread feeds it.
class RecordingDecoder : public SdrDecoder {
public:
    void process(const int16_t* samples, int32_t count) override;

    /// Runs on every call before the samples are kept (to block, count or throw).
    void onProcess(std::function<void(int32_t count)> action);

    std::vector<int16_t> samples();
    std::vector<int32_t> counts();

    /// True once at least `calls` calls have been made within `timeout`.
    bool waitForCalls(std::size_t calls, std::chrono::milliseconds timeout);

private:
    std::mutex lock;
    std::condition_variable called;
    std::vector<int16_t> kept;
    std::vector<int32_t> callCounts;
    std::function<void(int32_t)> action;
};

/// A complex tone at `frequency` Hz (may be negative) in tuner floats: I and Q alternating,
/// rounded to whole numbers as the tuner's bytes are. `pairs` I/Q pairs at 288000 per second.
std::vector<float> complexTone(double frequency, std::size_t pairs, double amplitude = 100.0);

/// The same stream as raw tuner bytes (float + 128).
std::vector<unsigned char> toBytes(const std::vector<float>& samples);

/// Demodulates `samples` in one block on the calling thread, as the reference for tests that
/// cut or deliver the same stream differently. Returns every sample the decoder got.
std::vector<int16_t> demodulateOffline(int32_t frequency, const std::vector<float>& samples);
