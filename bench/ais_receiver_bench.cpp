// Cost of one 4096-sample discriminator block through the decoding chain, the work each channel
// thread does about 11.7 times a second.
#include "ais/ais_receiver.hpp"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int32_t blockSamples = 4096;

void processNoiseBlock(benchmark::State& state) {
    std::mt19937 random(1);
    std::normal_distribution<float> noise(0.0f, 3000.0f);  // Discriminator units.
    std::vector<int16_t> block(blockSamples);
    for (int16_t& sample : block) {
        sample = static_cast<int16_t>(noise(random));
    }
    AisReceiver* receiver = createAisReceiver('A', false, nullptr, nullptr, nullptr, nullptr);
    for (auto _ : state) {
        processSamples(receiver, block.data(), blockSamples);
        benchmark::ClobberMemory();
    }
    destroyAisReceiver(receiver);
    state.SetItemsProcessed(state.iterations() * blockSamples);
}
BENCHMARK(processNoiseBlock);

}  // namespace
