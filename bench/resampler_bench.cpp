// The resampler that takes a SoapySDR device's rate down to 288000 pairs/s, on one second of
// a noisy tone in the reads of 16384 pairs the source makes: its cost per second of signal
// (the "real time" counter: seconds of signal per second of CPU) at the multiples of 288000
// devices offer and at rates that need a rational ratio. The conversion to and from the 8-bit
// stream is included, as the source does it.
#include "sdr/device_samples.hpp"
#include "sdr/rational_resampler.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace keelwave::sdr;

namespace {

constexpr uint32_t outputRate = 288000;
constexpr uint32_t readPairs = 16384;

void resampleOneSecond(benchmark::State& state) {
    const auto rate = static_cast<uint32_t>(state.range(0));
    std::vector<int8_t> device(2 * static_cast<std::size_t>(rate));
    uint32_t noise = 12345;
    for (std::size_t n = 0; n < device.size(); ++n) {
        noise = noise * 1103515245 + 12345;
        device[n] = static_cast<int8_t>(40.0 * std::sin(0.1 * n) + (noise >> 28));
    }
    const ResamplerDesign design = designResampler(rate, outputRate);
    ResamplerState resampler;
    resetResampler(resampler, design, readPairs);
    std::vector<float> steps(2 * readPairs);
    std::vector<float> resampled(2 *
                                 static_cast<std::size_t>(maxResampledPairs(design, readPairs)));
    std::vector<uint8_t> bytes(resampled.size());
    for (auto _ : state) {
        for (uint32_t done = 0; done < rate; done += readPairs) {
            const uint32_t pairs = std::min(readPairs, rate - done);
            toSteps(DeviceFormat::cs8, device.data() + 2 * static_cast<std::size_t>(done), pairs,
                    1.0f, steps.data());
            const uint32_t out =
                resampleBlock(design, resampler, steps.data(), pairs, resampled.data());
            toTunerBytes(resampled.data(), out, bytes.data());
        }
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["taps_per_phase"] = design.tapsPerPhase;
    state.counters["real_time"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(resampleOneSecond)
    ->Arg(1152000)
    ->Arg(2304000)
    ->Arg(2880000)
    ->Arg(2048000)
    ->Arg(2500000)
    ->Arg(3000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
