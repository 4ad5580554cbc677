#include "tests/sdr/recording_decoder.hpp"

#include "sdr/channel_demodulator.hpp"
#include "sdr/sdr_device.hpp"

#include <cmath>

void RecordingDecoder::process(const int16_t* samples, int32_t count) {
    std::function<void(int32_t)> before;
    {
        std::lock_guard<std::mutex> guard(lock);
        before = action;
    }
    if (before) {
        before(count);
    }
    std::lock_guard<std::mutex> guard(lock);
    kept.insert(kept.end(), samples, samples + count);
    callCounts.push_back(count);
    called.notify_all();
}

void RecordingDecoder::onProcess(std::function<void(int32_t count)> newAction) {
    std::lock_guard<std::mutex> guard(lock);
    action = std::move(newAction);
}

std::vector<int16_t> RecordingDecoder::samples() {
    std::lock_guard<std::mutex> guard(lock);
    return kept;
}

std::vector<int32_t> RecordingDecoder::counts() {
    std::lock_guard<std::mutex> guard(lock);
    return callCounts;
}

bool RecordingDecoder::waitForCalls(std::size_t calls, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    return called.wait_for(guard, timeout, [&] { return callCounts.size() >= calls; });
}

std::vector<float> complexTone(double frequency, std::size_t pairs, double amplitude) {
    std::vector<float> samples;
    samples.reserve(2 * pairs);
    for (std::size_t n = 0; n < pairs; ++n) {
        const double angle = fullTurn * frequency * static_cast<double>(n) / tunerSampleRate;
        samples.push_back(static_cast<float>(std::round(amplitude * std::cos(angle))));
        samples.push_back(static_cast<float>(std::round(amplitude * std::sin(angle))));
    }
    return samples;
}

std::vector<unsigned char> toBytes(const std::vector<float>& samples) {
    std::vector<unsigned char> bytes;
    bytes.reserve(samples.size());
    for (float sample : samples) {
        bytes.push_back(static_cast<unsigned char>(sample + 128.0f));
    }
    return bytes;
}

std::vector<int16_t> demodulateOffline(int32_t frequency, const std::vector<float>& samples) {
    DemodulatorState state;
    state.phaseIncrement = channelPhaseIncrement(frequency, tunerCentreFrequency);
    RecordingDecoder decoder;
    demodulateBlock(state, samples.data(), static_cast<uint32_t>(samples.size()), decoder);
    flushBlock(state, decoder);
    return decoder.samples();
}
