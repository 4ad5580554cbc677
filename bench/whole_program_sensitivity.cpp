// Sensitivity of the whole program, chain against chain: renders recordings of the tuner's
// stream from the real corpus with the transmitter model, decodes each with
// `keelwave -r FILE --decoder classic|sensitive` (or with chain_replay), and prints the share of
// the messages each chain prints and the false messages (sentences of no message sent).
//
//   whole_program_sensitivity (--keelwave PATH | --replay PATH) [--baseline PATH]
//       [--decoders classic,sensitive] [--corpus FILE] [--invalid FILE]
//       [--long-beach WAV EXPECTED] [--messages N] [--noise-minutes M] [--seed N] [--work DIR]
//       [--keep]
//       [--rows snr,offset,clock,strong,deviation,pulse,drift,ramp,phasenoise,invalid,noise,
//               longbeach]
//
// --baseline adds the sensitive chain of another build (today's, say) as a column of its own,
// decoding the very same recordings. --seed sets the first recording's seed (each row takes the
// next), so that a chain tuned on some recordings can be measured on others. --keep leaves each
// row's recording in the work folder; the false sentences of each row are always left there.
//
// Every recording carries both channels busy: the messages alternate between A and B, each
// in the next free slot of its channel, so that bursts on A and B overlap in time. SNR is the
// carrier's power over the power of the complex noise that falls in 25 kHz (the transmitter
// model's own figure is over 48 kHz, 2.8 dB more noise). The carrier is 20 steps of the 8-bit
// samples, which keeps the noise of the lowest SNR clear of the samples' range; the strong
// rows put the wanted channel at 4 steps and 25 dB, the other at 126 steps, 30 dB stronger.
// The transmitter rows send as real transmitters may: a peak deviation away from 2400 Hz
// (modulation index 0.40 to 0.60), a Gaussian pulse of another BT, a carrier that drifts
// during the burst, a power ramp that eats training bits, oscillator phase noise.
// Noise rows feed the program pure noise through standard input, at the level of the 2 dB row.
// CPU time and peak memory are those of the decoding processes, as GNU time reports them.
#include "bench/sensitivity_bench.hpp"
#include "tools/transmitter/expected_sentences.hpp"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace keelwave::transmitter;
using keelwave::bench::Bench;
using keelwave::bench::Decoder;
using keelwave::bench::measure;
using keelwave::bench::Options;
using keelwave::bench::settingsAt;

namespace {

constexpr double strongWantedAmplitude = 4.0;
constexpr double strongOtherAmplitude = 126.0;  // 30.0 dB above 4
constexpr double strongWantedSnrDb = 25.0;
constexpr double quietSnrDb = 20.0;  // of the carrier, clock and invalid-type rows

// Rows of a transmitter that is not ideal, at the SNRs where each matters.
void runTransmitterRows(Bench& bench, const std::string& kind) {
    char label[64];
    if (kind == "deviation") {
        for (const double snr : {4.0, 6.0, 12.0}) {
            for (const double hz :
                 {1920.0, 2000.0, 2160.0, 2280.0, 2520.0, 2640.0, 2800.0, 2880.0}) {
                RecordingSettings settings = settingsAt(bench, snr);
                settings.deviationHz = hz;
                std::snprintf(label, sizeof label, "Deviation %4.0f Hz (%.2f), SNR %2.0f dB", hz,
                              hz / 4800.0, snr);
                measure(bench, label, settings);
            }
        }
    } else if (kind == "pulse") {
        for (const double snr : {4.0, 6.0}) {
            for (const double bandwidthTime : {0.3, 0.5}) {
                std::snprintf(label, sizeof label, "Pulse BT %.1f, SNR %2.0f dB", bandwidthTime,
                              snr);
                measure(bench, label, settingsAt(bench, snr), bandwidthTime);
            }
        }
    } else if (kind == "drift") {
        for (const auto& [hz, snr] :
             {std::pair{150.0, 6.0}, {300.0, 6.0}, {-300.0, 6.0}, {300.0, 4.0}, {300.0, 12.0}}) {
            RecordingSettings settings = settingsAt(bench, snr);
            settings.driftHzPerBurst = hz;
            std::snprintf(label, sizeof label, "Drift %+4.0f Hz per burst, SNR %2.0f dB", hz, snr);
            measure(bench, label, settings);
        }
    } else if (kind == "ramp") {
        for (const auto& [bits, snr] : {std::pair{4.0, 6.0}, {8.0, 6.0}, {8.0, 4.0}}) {
            RecordingSettings settings = settingsAt(bench, snr);
            settings.rampLateBits = bits;
            std::snprintf(label, sizeof label, "Ramp eating %.0f training bits, SNR %2.0f dB", bits,
                          snr);
            measure(bench, label, settings);
        }
    } else if (kind == "phasenoise") {
        for (const double hz : {10.0, 50.0}) {
            RecordingSettings settings = settingsAt(bench, 6.0);
            settings.phaseNoiseHz = hz;
            std::snprintf(label, sizeof label, "Phase noise %2.0f Hz wide, SNR  6 dB", hz);
            measure(bench, label, settings);
        }
    }
}

void runRows(Bench& bench, const std::string& kind) {
    char label[64];
    if (kind == "snr") {
        for (const double snr : {2.0, 3.0, 4.0, 6.0, 8.0, 10.0, 12.0, 20.0}) {
            std::snprintf(label, sizeof label, "SNR %2.0f dB", snr);
            measure(bench, label, settingsAt(bench, snr));
        }
    } else if (kind == "offset") {
        for (const double hz : {-4000.0, -2000.0, -1000.0, 0.0, 1000.0, 2000.0, 4000.0}) {
            RecordingSettings settings = settingsAt(bench, quietSnrDb);
            settings.carrierOffsetHz = hz;
            std::snprintf(label, sizeof label, "Carrier %+5.0f Hz, SNR 20 dB", hz);
            measure(bench, label, settings);
        }
    } else if (kind == "clock") {
        for (const double ppm : {-100.0, 100.0}) {
            RecordingSettings settings = settingsAt(bench, quietSnrDb);
            settings.clockErrorPpm = ppm;
            std::snprintf(label, sizeof label, "Clock %+4.0f ppm, SNR 20 dB", ppm);
            measure(bench, label, settings);
        }
    } else if (kind == "strong") {
        for (int strong = 0; strong < 2; ++strong) {
            RecordingSettings settings = settingsAt(bench, strongWantedSnrDb);
            settings.amplitude = strongWantedAmplitude;
            settings.channelAmplitude[strong] = strongOtherAmplitude;
            const char wantedChannel = strong == 0 ? 'B' : 'A';
            std::snprintf(label, sizeof label, "%c at 25 dB, %c 30 dB stronger", wantedChannel,
                          strong == 0 ? 'A' : 'B');
            measure(bench, label, settings, aisBandwidthTime, wantedChannel);
        }
    } else if (kind == "invalid") {
        const std::vector<Bits> invalid =
            keelwave::bench::readMessages(bench.options.invalid, MessageVerdict::invalidIdentifier);
        std::vector<Bits> repeated;
        while (repeated.size() < bench.corpus.size()) {
            repeated.insert(repeated.end(), invalid.begin(), invalid.end());
        }
        for (const double snr : {quietSnrDb, 3.0}) {
            std::snprintf(label, sizeof label, "Invalid types only, SNR %2.0f dB", snr);
            measure(bench, label, settingsAt(bench, snr), aisBandwidthTime, 0, &repeated);
        }
    } else if (kind == "noise") {
        keelwave::bench::runNoise(bench);
    } else if (kind == "longbeach") {
        keelwave::bench::runLongBeach(bench);
    } else {
        runTransmitterRows(bench, kind);
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: whole_program_sensitivity (--keelwave PATH | --replay PATH) "
                 "[--baseline PATH] [--decoders LIST] [--corpus FILE] [--invalid FILE] "
                 "[--long-beach WAV EXPECTED] [--messages N] [--noise-minutes M] [--seed N] "
                 "[--work DIR] [--keep] [--rows LIST]\n");
    return 2;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool more = i + 1 < argc;
        if (more && argument == "--keelwave") {
            options.keelwave = argv[++i];
        } else if (more && argument == "--replay") {
            options.replay = argv[++i];
        } else if (more && argument == "--baseline") {
            options.baseline = argv[++i];
        } else if (more && argument == "--decoders") {
            options.decoders = argv[++i];
        } else if (more && argument == "--corpus") {
            options.corpus = argv[++i];
        } else if (more && argument == "--invalid") {
            options.invalid = argv[++i];
        } else if (i + 2 < argc && argument == "--long-beach") {
            options.longBeachAudio = argv[++i];
            options.longBeachExpected = argv[++i];
        } else if (more && argument == "--messages") {
            options.messages = static_cast<std::size_t>(std::atol(argv[++i]));
        } else if (more && argument == "--noise-minutes") {
            options.noiseMinutes = std::atof(argv[++i]);
        } else if (more && argument == "--seed") {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (more && argument == "--work") {
            options.work = argv[++i];
        } else if (argument == "--keep") {
            options.keep = true;
        } else if (more && argument == "--rows") {
            options.rows = argv[++i];
        } else {
            return false;
        }
    }
    return options.keelwave.empty() != options.replay.empty();
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> items;
    std::stringstream stream(list);
    for (std::string item; std::getline(stream, item, ',');) {
        items.push_back(item);
    }
    return items;
}

}  // namespace

int main(int argc, char** argv) {
    Bench bench;
    if (!parse(argc, argv, bench.options)) {
        return usage();
    }
    const Options& options = bench.options;
    const bool replay = !options.replay.empty();
    for (const std::string& chain : split(options.decoders)) {
        bench.decoders.push_back(
            {chain, replay ? options.replay : options.keelwave, chain, replay});
    }
    if (!options.baseline.empty()) {
        bench.decoders.push_back({"baseline", options.baseline, "sensitive", false});
    }
    bench.speed.cpuSeconds.assign(bench.decoders.size(), 0.0);
    bench.speed.peakKb.assign(bench.decoders.size(), 0);
    bench.seed = options.seed;
    try {
        std::system(("mkdir -p " + options.work).c_str());
        bench.corpus = keelwave::bench::readMessages(options.corpus, MessageVerdict::printed);
        if (options.messages > 0 && options.messages < bench.corpus.size()) {
            bench.corpus.resize(options.messages);
        }
        std::printf("%zu messages from %s, decoded with %s, first seed %llu\n\n",
                    bench.corpus.size(), options.corpus.c_str(),
                    replay ? options.replay.c_str() : options.keelwave.c_str(),
                    static_cast<unsigned long long>(options.seed));
        std::printf("%-36s", "");
        for (const Decoder& decoder : bench.decoders) {
            std::printf(" %10s %5s", decoder.label.c_str(), "false");
        }
        std::printf("\n");
        for (const std::string& kind : split(options.rows)) {
            runRows(bench, kind);
        }
        if (bench.speed.signalSeconds > 0.0) {
            std::printf("\nDecoding the rendered recordings (%.0f s of signal):\n",
                        bench.speed.signalSeconds);
            for (std::size_t d = 0; d < bench.decoders.size(); ++d) {
                std::printf("  %-9s %7.1f s CPU, %6.1fx real time, peak %5.1f MB\n",
                            bench.decoders[d].label.c_str(), bench.speed.cpuSeconds[d],
                            bench.speed.signalSeconds / bench.speed.cpuSeconds[d],
                            static_cast<double>(bench.speed.peakKb[d]) / 1024.0);
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "whole_program_sensitivity: %s\n", error.what());
        return 1;
    }
    return 0;
}
