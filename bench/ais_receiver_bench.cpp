// Cost of the decoding chain on one channel: 4096-sample discriminator blocks through
// processSamples, the work each channel thread does about 11.7 times a second. Reports samples
// per second and the multiple of real time (48000 samples per second per channel).
//
// busyChannel: the real messages of the test corpus as GMSK bursts from the transmitter model,
// one in every AIS slot (the heaviest load a channel carries), with white noise 20 dB below the
// peak deviation throughout. noiseOnly: a channel without carrier, where the discriminator
// sees nothing but large noise.
#include "ais/classic/ais_receiver.hpp"
#include "tools/transmitter/burst_stream.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace keelwave::ais;

namespace transmitter = keelwave::transmitter;

namespace {

constexpr int32_t blockSamples = 4096;
constexpr double discriminatorRate = 48000.0;  // Samples per second on each channel.
constexpr double busySnrDb = 20.0;             // Peak deviation over noise RMS.
constexpr float noCarrierNoiseRms = 3000.0f;   // Discriminator units.

// Whole blocks of bursts and noise, made once.
const std::vector<int16_t>& busyChannelSamples() {
    static const std::vector<int16_t> samples = [] {
        std::ifstream file(TEST_DATA_DIR "/real-aivdm-sample.nmea");
        std::vector<transmitter::Bits> messages;
        for (const auto& message : transmitter::readNmeaMessages(file).messages) {
            messages.push_back(message.bits);
        }
        if (messages.empty()) {
            std::abort();  // Without the corpus there is nothing realistic to measure.
        }
        transmitter::StreamSettings settings;
        settings.noiseRms = transmitter::noiseRmsForSnr(busySnrDb);
        settings.offsetStepSamples = 3.0901699;  // Bursts at every phase of the bit clock.
        std::vector<int16_t> stream =
            transmitter::renderBurstStream(transmitter::makeGmskPulse(), messages, settings)
                .samples;
        stream.resize(stream.size() / blockSamples * blockSamples);
        return stream;
    }();
    return samples;
}

const std::vector<int16_t>& noiseOnlySamples() {
    static const std::vector<int16_t> samples = [] {
        std::mt19937 random(1);
        std::normal_distribution<float> noise(0.0f, noCarrierNoiseRms);
        std::vector<int16_t> block(16 * blockSamples);
        for (int16_t& sample : block) {
            sample = static_cast<int16_t>(noise(random));
        }
        return block;
    }();
    return samples;
}

void countFrame(void* context, const uint8_t*, int32_t) {
    ++*static_cast<int64_t*>(context);
}

// One block per iteration, going round the samples; the receiver carries on across blocks and
// rounds as it would on a live channel.
void processBlocks(benchmark::State& state, const std::vector<int16_t>& samples) {
    int64_t frames = 0;
    const auto receiver = std::make_unique<AisReceiver>();
    receiver->frameDecoder.frameCallback = &countFrame;
    receiver->frameDecoder.frameContext = &frames;
    size_t start = 0;
    for (auto _ : state) {
        processSamples(receiver.get(), &samples[start], blockSamples);
        benchmark::ClobberMemory();
        start = start + 2 * blockSamples <= samples.size() ? start + blockSamples : 0;
    }
    const auto processed = static_cast<double>(state.iterations()) * blockSamples;
    state.SetItemsProcessed(state.iterations() * blockSamples);
    // Seconds of one channel's signal decoded per second of CPU: the multiple of real time.
    state.counters["signalSeconds"] =
        benchmark::Counter(processed / discriminatorRate, benchmark::Counter::kIsRate);
    state.counters["messagesPerBlock"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kAvgIterations);
}

void busyChannel(benchmark::State& state) {
    processBlocks(state, busyChannelSamples());
}
BENCHMARK(busyChannel);

void noiseOnly(benchmark::State& state) {
    processBlocks(state, noiseOnlySamples());
}
BENCHMARK(noiseOnly);

}  // namespace
