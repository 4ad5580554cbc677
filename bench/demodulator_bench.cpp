// The channel demodulator on the tuner's transfers: 102400 bytes, 51200 I/Q pairs, one about
// every 177.8 ms. Both channels must finish a transfer well inside that, decoders included,
// or the following transfers are dropped. The decoder here does nothing, so the figures are
// the demodulator's own cost.
#include "sdr/block_queue.hpp"
#include "sdr/channel_demodulator.hpp"
#include "sdr/sample_source.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace keelwave::sdr;
using keelwave::ais::SdrDecoder;

namespace {

class DiscardingDecoder : public SdrDecoder {
public:
    void process(const int16_t* samples, int32_t count) override {
        benchmark::DoNotOptimize(samples);
        benchmark::DoNotOptimize(count);
    }
};

/// One transfer of a noisy tone 2400 Hz above channel A's oscillator, as tuner bytes.
std::vector<unsigned char> transfer() {
    std::vector<unsigned char> bytes(tunerBufferLength);
    uint32_t noise = 12345;
    for (uint32_t n = 0; n < tunerBufferLength; n += 2) {
        const double angle = fullTurn * -22592.0 * (n / 2) / tunerSampleRate;
        noise = noise * 1103515245 + 12345;
        const double jitter = static_cast<double>((noise >> 16) % 9) - 4.0;
        bytes[n] = static_cast<unsigned char>(128.0 + std::round(60.0 * std::cos(angle) + jitter));
        bytes[n + 1] = static_cast<unsigned char>(128.0 + std::round(60.0 * std::sin(angle)));
    }
    return bytes;
}

std::vector<float> asFloats(const std::vector<unsigned char>& bytes) {
    std::vector<float> samples(bytes.size());
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        samples[n] = static_cast<float>(bytes[n]) - 128.0f;
    }
    return samples;
}

/// One channel over one transfer per iteration; items are I/Q pairs.
void demodulateOneChannel(benchmark::State& state) {
    const std::vector<float> samples = asFloats(transfer());
    DemodulatorState channel;
    channel.phaseIncrement = channelPhaseIncrement(161975000, tunerCentreFrequency);
    DiscardingDecoder decoder;
    for (auto _ : state) {
        demodulateBlock(channel, samples.data(), tunerBufferLength, decoder);
    }
    state.SetItemsProcessed(state.iterations() * (tunerBufferLength / 2));
}
BENCHMARK(demodulateOneChannel)->Unit(benchmark::kMillisecond);

/// What one transfer costs in all: the hand-off's conversion to floats, then channels A and B.
void oneTransferBothChannels(benchmark::State& state) {
    std::vector<unsigned char> bytes = transfer();
    BlockQueue queue(2, 1, tunerBufferLength);
    DemodulatorState channels[2];
    channels[0].phaseIncrement = channelPhaseIncrement(161975000, tunerCentreFrequency);
    channels[1].phaseIncrement = channelPhaseIncrement(162025000, tunerCentreFrequency);
    DiscardingDecoder decoder;
    for (auto _ : state) {
        queue.publish(bytes.data(), tunerBufferLength, false);
        for (std::size_t reader = 0; reader < 2; ++reader) {
            RawBlock block;
            queue.nextBlock(reader, block);
            demodulateBlock(channels[reader], block.samples, block.count, decoder);
            queue.doneWith(reader);
        }
    }
    state.SetItemsProcessed(state.iterations() * (tunerBufferLength / 2));
}
BENCHMARK(oneTransferBothChannels)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
