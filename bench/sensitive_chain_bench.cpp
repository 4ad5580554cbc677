// Both decoding chains whole, and the sensitive chain stage by stage, on the tuner's stream as
// the transmitter model renders it: ten seconds of both channels busy (a burst in every slot of
// A and of B, real messages, 6 dB in 25 kHz), and ten seconds of the noise alone. Each stage
// runs on what the stage before it gave for the busy recording, as in the chain: the channel
// filter on the tuner's samples, the detector on the filter's output, the preamble's
// synchronisation on the detector's candidates, and each reading on the synchronised bursts.
// The whole chains report their multiple of real time (both channels, one core) as a counter.
#include "ais/ais_message.hpp"
#include "ais/sensitive/burst_window.hpp"
#include "ais/sensitive/sensitive_chain.hpp"
#include "app/decoding_chains.hpp"
#include "base/tuner_stream.hpp"
#include "tools/transmitter/alternating_bursts.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/iq_recording.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

using namespace keelwave::ais;
namespace tx = keelwave::transmitter;

namespace {

constexpr double recordingSeconds = 10.0;
constexpr double carrierSteps = 20.0;
constexpr double busySnrDb = 6.0 - 2.83;  // 6 dB in 25 kHz is 3.17 dB in the model's 48 kHz
constexpr double noiseSnrDb = 2.0 - 2.83;
constexpr uint32_t blockFloats = 102400;  // one tuner transfer
constexpr double channelOffsetHz = -25000.0;
constexpr int32_t readSymbols = 200;  // about a position report's burst

std::vector<float> asFloats(const std::string& bytes) {
    std::vector<float> samples(bytes.size());
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        samples[n] = static_cast<float>(static_cast<unsigned char>(bytes[n])) - 128.0f;
    }
    return samples;
}

std::vector<float> render(bool busy) {
    tx::RecordingSettings settings;
    settings.amplitude = carrierSteps;
    settings.snrDb = busy ? busySnrDb : noiseSnrDb;
    std::vector<tx::RecordedBurst> bursts;
    if (busy) {
        std::ifstream file(TEST_DATA_DIR "/real-aivdm-sample.nmea");
        std::vector<tx::Bits> messages;
        for (const tx::AisMessage& message : tx::readNmeaMessages(file).messages) {
            if (tx::receiverVerdict(message.bits) == tx::MessageVerdict::printed) {
                messages.push_back(message.bits);
            }
        }
        tx::SlotPlan plan;
        plan.endSample = static_cast<std::int64_t>(recordingSeconds * tx::rawRate);
        std::vector<tx::Bits> repeated;
        while (repeated.size() < 2 * static_cast<std::size_t>(recordingSeconds * 37.5)) {
            repeated.insert(repeated.end(), messages.begin(), messages.end());
        }
        repeated.resize(2 * static_cast<std::size_t>(recordingSeconds * 37.0));
        bursts = tx::layOutAlternately(repeated, plan, {}).bursts;
    }
    std::ostringstream out;
    tx::writeRecording(bursts, static_cast<std::int64_t>(recordingSeconds * tx::rawRate), settings,
                       tx::makeGmskPulse(), out);
    return asFloats(out.str());
}

const std::vector<float>& recording(bool busy) {
    static const std::vector<float> recordings[2] = {render(false), render(true)};
    return recordings[busy ? 1 : 0];
}

void discard(void*, const keelwave::ais::AisMessage&) {}

// Both channels of a recording per iteration; items are I/Q pairs.
template <typename MakeChain>
void wholeChain(benchmark::State& state, bool busy, MakeChain makeChain) {
    const std::vector<float>& samples = recording(busy);
    for (auto _ : state) {
        std::unique_ptr<DecodingChain> chains[2] = {makeChain(keelwave::base::aisChannels[0]),
                                                    makeChain(keelwave::base::aisChannels[1])};
        for (std::size_t at = 0; at < samples.size(); at += blockFloats) {
            const auto count =
                static_cast<uint32_t>(std::min<std::size_t>(blockFloats, samples.size() - at));
            for (auto& chain : chains) {
                chain->processBlock({samples.data() + at, count, static_cast<int64_t>(at / 2)});
            }
        }
        for (auto& chain : chains) {
            chain->finish();
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples.size() / 2));
    state.counters["xRealTime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * recordingSeconds, benchmark::Counter::kIsRate);
}

std::unique_ptr<DecodingChain> sensitiveChain(const keelwave::base::AisChannel& channel) {
    return keelwave::app::makeDecodingChain(keelwave::ais::ChainKind::sensitive, channel,
                                            {{&discard, nullptr}});
}

std::unique_ptr<DecodingChain> classicChain(const keelwave::base::AisChannel& channel) {
    return keelwave::app::makeDecodingChain(keelwave::ais::ChainKind::classic, channel,
                                            {{&discard, nullptr}});
}

void sensitiveBusy(benchmark::State& state) {
    wholeChain(state, true, sensitiveChain);
}
void sensitiveNoise(benchmark::State& state) {
    wholeChain(state, false, sensitiveChain);
}
void classicBusy(benchmark::State& state) {
    wholeChain(state, true, classicChain);
}
void classicNoise(benchmark::State& state) {
    wholeChain(state, false, classicChain);
}
BENCHMARK(sensitiveBusy)->Unit(benchmark::kMillisecond);
BENCHMARK(sensitiveNoise)->Unit(benchmark::kMillisecond);
BENCHMARK(classicBusy)->Unit(benchmark::kMillisecond);
BENCHMARK(classicNoise)->Unit(benchmark::kMillisecond);

// Zeros in front of the channel's first sample: the matched filter looks back over them.
constexpr int32_t guard = 2 * matchedFilterLead;

// What each stage of channel A gives for the busy recording.
struct Stages {
    std::vector<float> re = std::vector<float>(guard);  // the guard, then the channel
    std::vector<float> im = std::vector<float>(guard);
    const float* channelRe() const { return re.data() + guard; }
    const float* channelIm() const { return im.data() + guard; }
    int32_t held() const { return static_cast<int32_t>(re.size()) - guard; }
    std::vector<BurstCandidate> candidates;
    /// The candidates that synchronise, with what their preamble said.
    std::vector<std::pair<BurstCandidate, BurstTiming>> synchronised;
};

// The candidate's samples, turned back by its frequency, as far as `end` (of the window).
void copyWindow(BurstWindow& window, const Stages& stages, const BurstCandidate& candidate,
                int32_t end = candidateSpan) {
    startBurstWindow(window, candidate.instant, candidate.turnPerSymbol);
    fillBurstWindow(window, end, stages.channelRe(), stages.channelIm(), 0, stages.held());
}

/// Window entries the synchronisation reads, as the chain copies them before it.
constexpr int32_t syncWindow = candidateLead + turnsSearch + 2 + matchedFilterLag;

const Stages& stages() {
    static const Stages result = [] {
        Stages stages;
        const std::vector<float>& samples = recording(true);
        auto filter = std::make_unique<ChannelFilter>();
        initChannelFilter(*filter, channelOffsetHz);
        std::vector<float> re(filterChunkOutputs + filterTile);
        std::vector<float> im(filterChunkOutputs + filterTile);
        for (std::size_t at = 0; at < samples.size(); at += 2 * filterChunkPairs) {
            const auto pairs = static_cast<int32_t>(
                std::min<std::size_t>(filterChunkPairs, (samples.size() - at) / 2));
            float power = 0.0f;
            const int32_t count =
                filterChannel(*filter, samples.data() + at, pairs, re.data(), im.data(), power);
            stages.re.insert(stages.re.end(), re.begin(), re.begin() + count);
            stages.im.insert(stages.im.end(), im.begin(), im.begin() + count);
        }
        auto reference = std::make_unique<GmskReference>();
        initGmskReference(*reference);
        auto detector = std::make_unique<BurstDetector>();
        initBurstDetector(*detector, *reference);
        // Past the detector's reach, so that it never reads beyond the samples.
        const int64_t end = stages.held() - candidateSpan;
        BurstCandidate found[detectorBatch / candidateWindow + 1];
        while (detector->nextSample < end) {
            const int32_t count =
                detectBursts(*detector, *reference, stages.channelRe(), stages.channelIm(), 0,
                             std::min<int64_t>(end, detector->nextSample + detectorBatch), found);
            stages.candidates.insert(stages.candidates.end(), found, found + count);
        }
        auto window = std::make_unique<BurstWindow>();
        for (const BurstCandidate& candidate : stages.candidates) {
            if (candidate.instant < candidateLead) {
                continue;
            }
            copyWindow(*window, stages, candidate);
            const BurstTiming timing = synchroniseBurst(*reference, window->re + candidateLead,
                                                        window->im + candidateLead, candidate);
            if (timing.match >= 0.5f) {
                stages.synchronised.emplace_back(candidate, timing);
            }
        }
        return stages;
    }();
    return result;
}

// Items are tuner I/Q pairs.
void channelFilter(benchmark::State& state) {
    const std::vector<float>& samples = recording(true);
    auto filter = std::make_unique<ChannelFilter>();
    initChannelFilter(*filter, channelOffsetHz);
    std::vector<float> re(filterChunkOutputs + filterTile);
    std::vector<float> im(filterChunkOutputs + filterTile);
    for (auto _ : state) {
        for (std::size_t at = 0; at + 2 * filterChunkPairs <= samples.size();
             at += 2 * filterChunkPairs) {
            float power = 0.0f;
            benchmark::DoNotOptimize(filterChannel(*filter, samples.data() + at, filterChunkPairs,
                                                   re.data(), im.data(), power));
        }
    }
    state.SetItemsProcessed(state.iterations() *
                            static_cast<int64_t>(samples.size() / 2 / filterChunkPairs) *
                            filterChunkPairs);
}
BENCHMARK(channelFilter)->Unit(benchmark::kMillisecond);

// Items are channel samples.
void burstDetector(benchmark::State& state) {
    const Stages& input = stages();
    auto reference = std::make_unique<GmskReference>();
    initGmskReference(*reference);
    auto detector = std::make_unique<BurstDetector>();
    const int64_t end = input.held() - candidateSpan;
    BurstCandidate found[detectorBatch / candidateWindow + 1];
    for (auto _ : state) {
        initBurstDetector(*detector, *reference);
        while (detector->nextSample < end) {
            benchmark::DoNotOptimize(
                detectBursts(*detector, *reference, input.channelRe(), input.channelIm(), 0,
                             std::min<int64_t>(end, detector->nextSample + detectorBatch), found));
        }
    }
    state.SetItemsProcessed(state.iterations() * end);
}
BENCHMARK(burstDetector)->Unit(benchmark::kMillisecond);

// Items are candidates; each is copied out of the channel as far as the synchronisation reads,
// as the chain does.
void preambleSync(benchmark::State& state) {
    const Stages& input = stages();
    auto reference = std::make_unique<GmskReference>();
    initGmskReference(*reference);
    auto window = std::make_unique<BurstWindow>();
    for (auto _ : state) {
        for (const BurstCandidate& candidate : input.candidates) {
            if (candidate.instant >= candidateLead) {
                copyWindow(*window, input, candidate, syncWindow);
                benchmark::DoNotOptimize(synchroniseBurst(*reference, window->re + candidateLead,
                                                          window->im + candidateLead, candidate));
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(input.candidates.size()));
}
BENCHMARK(preambleSync)->Unit(benchmark::kMillisecond);

// Items are symbols decided.
void reading(benchmark::State& state, SymbolReading way) {
    const Stages& input = stages();
    auto reference = std::make_unique<GmskReference>();
    initGmskReference(*reference);
    auto window = std::make_unique<BurstWindow>();
    auto tracker = std::make_unique<SymbolTracker>();
    auto symbols = std::make_unique<SoftSymbols>();
    for (auto _ : state) {
        for (const auto& [candidate, timing] : input.synchronised) {
            state.PauseTiming();
            copyWindow(*window, input, candidate);
            state.ResumeTiming();
            startTracking(*tracker, timing, way);
            symbols->count = 0;
            const auto shift =
                static_cast<int32_t>(candidateLead + timing.sample - candidate.instant);
            trackSymbols(*tracker, *reference, window->re + shift, window->im + shift, readSymbols,
                         *symbols);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(input.synchronised.size()) *
                            readSymbols);
}
void nominalReading(benchmark::State& state) {
    reading(state, SymbolReading::nominal);
}
void indexAwareReading(benchmark::State& state) {
    reading(state, SymbolReading::byIndex);
}
BENCHMARK(nominalReading)->Unit(benchmark::kMillisecond);
BENCHMARK(indexAwareReading)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
