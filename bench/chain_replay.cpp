// Decodes a recording of the tuner's stream (unsigned 8-bit I/Q, 288000 samples/s around
// 162 MHz) in this process, on one thread, with the classic or the sensitive chain, and prints
// every sentence on a line of its own. A measuring tool for the chains themselves, apart from
// the program's threads and outputs:
//
//   chain_replay [--chain classic|sensitive] [--stats] FILE|-
//
// Both channels get every 102400-byte block the tuner delivers, as floats (byte - 128), A
// first; at the end of the input both are finished. With --stats the CPU time, the multiple of
// real time and the frames checked go to standard error.
#include "ais/ais_message.hpp"
#include "ais/sensitive/sensitive_chain.hpp"
#include "app/decoding_chains.hpp"
#include "base/tuner_stream.hpp"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using keelwave::ais::DecodingChain;
using keelwave::ais::SensitiveChain;
namespace base = keelwave::base;

namespace {

constexpr size_t blockBytes = base::tunerTransferBytes;
constexpr size_t conversionRun = 16;  // bytes converted to floats per step

void printSentences(void*, const keelwave::ais::AisMessage& message) {
    for (int32_t index = 0; index < message.sentenceCount; ++index) {
        std::puts(message.sentences[index]);
    }
}

int usage() {
    std::fprintf(stderr, "usage: chain_replay [--chain classic|sensitive] [--stats] FILE|-\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string chainName = "sensitive";
    std::string path;
    bool stats = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--chain" && i + 1 < argc) {
            chainName = argv[++i];
        } else if (argument == "--stats") {
            stats = true;
        } else if (path.empty()) {
            path = argument;
        } else {
            return usage();
        }
    }
    const std::optional<keelwave::ais::ChainKind> kind = keelwave::ais::chainNamed(chainName);
    if (path.empty() || !kind) {
        return usage();
    }
    std::FILE* input = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (input == nullptr) {
        std::perror(path.c_str());
        return 1;
    }

    std::unique_ptr<DecodingChain> chains[2];
    SensitiveChain* sensitive[2] = {};
    const keelwave::app::ChainOutputs outputs{{&printSentences, nullptr}};
    for (int c = 0; c < 2; ++c) {
        chains[c] = keelwave::app::makeDecodingChain(*kind, base::aisChannels[c], outputs);
        sensitive[c] = dynamic_cast<SensitiveChain*>(chains[c].get());
    }

    std::vector<unsigned char> bytes(blockBytes);
    std::vector<float> samples(blockBytes);
    double pairs = 0.0;
    const std::clock_t started = std::clock();
    for (;;) {
        const size_t got = std::fread(bytes.data(), 1, blockBytes, input);
        if (got == 0) {
            break;
        }
        // In runs of a fixed length, which the compiler turns into vector code.
        size_t i = 0;
        for (; i + conversionRun <= got; i += conversionRun) {
            for (size_t j = 0; j < conversionRun; ++j) {
                samples[i + j] = base::sampleValue(bytes[i + j]);
            }
        }
        for (; i < got; ++i) {
            samples[i] = base::sampleValue(bytes[i]);
        }
        for (auto& chain : chains) {
            chain->processBlock(
                {samples.data(), static_cast<uint32_t>(got), static_cast<int64_t>(pairs)});
        }
        pairs += static_cast<double>(got / 2);
    }
    for (auto& chain : chains) {
        chain->finish();
    }
    const double cpuSeconds = static_cast<double>(std::clock() - started) / CLOCKS_PER_SEC;
    if (input != stdin) {
        std::fclose(input);
    }
    if (stats) {
        const double seconds = pairs / base::tunerPairsPerSecond;
        std::fprintf(stderr, "%.2f s of signal in %.3f s CPU: %.1fx real time\n", seconds,
                     cpuSeconds, cpuSeconds > 0.0 ? seconds / cpuSeconds : 0.0);
        for (int c = 0; c < 2 && sensitive[c] != nullptr; ++c) {
            const keelwave::ais::ChainCounts counts = sensitive[c]->counts();
            std::fprintf(stderr,
                         "%c: %lld candidates, %lld synchronised, %lld printed (%lld with symbols "
                         "turned over), %lld frames checked\n",
                         base::aisChannels[c].letter, static_cast<long long>(counts.candidates),
                         static_cast<long long>(counts.synchronised),
                         static_cast<long long>(counts.printed),
                         static_cast<long long>(counts.turnedOver),
                         static_cast<long long>(counts.framesChecked));
        }
    }
    return 0;
}
