// The channel demodulator on the tuner's transfers: 102400 bytes, 51200 I/Q pairs, one about
// every 177.8 ms. Both channels must finish a transfer well inside that, decoders included,
// or the following transfers are dropped. The decoder here does nothing, so the figures are
// the demodulator's own cost.
#include "ais/classic/channel_demodulator.hpp"
#include "base/tuner_stream.hpp"
#include "sdr/block_ring.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace keelwave::ais;
using keelwave::base::sampleValue;
using keelwave::base::tunerCentreHz;
using keelwave::base::tunerPairsPerSecond;
using keelwave::sdr::BlockRing;
using keelwave::sdr::RawBlock;

namespace {

constexpr uint32_t tunerBufferLength = keelwave::base::tunerTransferBytes;

class DiscardingDecoder : public DiscriminatorDecoder {
public:
    void process(const int16_t* samples, int32_t count) override {
        benchmark::DoNotOptimize(samples);
        benchmark::DoNotOptimize(count);
    }
    void restart() override {}
};

/// One transfer of a noisy tone 2400 Hz above channel A's oscillator, as tuner bytes.
std::vector<unsigned char> transfer() {
    std::vector<unsigned char> bytes(tunerBufferLength);
    uint32_t noise = 12345;
    for (uint32_t n = 0; n < tunerBufferLength; n += 2) {
        const double angle = fullTurn * -22592.0 * (n / 2) / tunerPairsPerSecond;
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
        samples[n] = sampleValue(bytes[n]);
    }
    return samples;
}

/// One channel over one transfer per iteration; items are I/Q pairs.
void demodulateOneChannel(benchmark::State& state) {
    const std::vector<float> samples = asFloats(transfer());
    DemodulatorState channel;
    channel.phaseIncrement = channelPhaseIncrement(161975000, tunerCentreHz);
    DiscardingDecoder decoder;
    for (auto _ : state) {
        demodulateBlock(channel, samples.data(), tunerBufferLength, decoder);
    }
    state.SetItemsProcessed(state.iterations() * (tunerBufferLength / 2));
}
BENCHMARK(demodulateOneChannel)->Unit(benchmark::kMillisecond);

/// What one transfer costs in all: the ring, each channel's conversion to floats, then its
/// demodulator.
void oneTransferBothChannels(benchmark::State& state) {
    std::vector<unsigned char> bytes = transfer();
    std::vector<float> samples(tunerBufferLength);
    BlockRing ring(2, 1, tunerBufferLength);
    DemodulatorState channels[2];
    channels[0].phaseIncrement = channelPhaseIncrement(161975000, tunerCentreHz);
    channels[1].phaseIncrement = channelPhaseIncrement(162025000, tunerCentreHz);
    DiscardingDecoder decoder;
    for (auto _ : state) {
        ring.publish(bytes.data(), tunerBufferLength, false);
        for (std::size_t reader = 0; reader < 2; ++reader) {
            RawBlock block;
            ring.nextBlock(reader, block);
            for (uint32_t n = 0; n < block.count; ++n) {
                samples[n] = sampleValue(block.bytes[n]);
            }
            demodulateBlock(channels[reader], samples.data(), block.count, decoder);
            ring.doneWith(reader);
        }
    }
    state.SetItemsProcessed(state.iterations() * (tunerBufferLength / 2));
}
BENCHMARK(oneTransferBothChannels)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
