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
#include "bench/program_decoding.hpp"
#include "tools/transmitter/alternating_bursts.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/fm_recording.hpp"
#include "tools/transmitter/gaussian_noise.hpp"
#include "tools/transmitter/iq_recording.hpp"
#include "tools/transmitter/nmea_input.hpp"
#include "tools/transmitter/reception_score.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace keelwave::transmitter;
using keelwave::bench::Decoded;
using keelwave::bench::Decoder;

namespace {

constexpr double wantedAmplitude = 20.0;  // 8-bit steps
constexpr double strongWantedAmplitude = 4.0;
constexpr double strongOtherAmplitude = 126.0;  // 30.0 dB above 4
constexpr double strongWantedSnrDb = 25.0;
constexpr double quietSnrDb = 20.0;  // of the carrier, clock and invalid-type rows
constexpr double noiseLevelSnrDb = 2.0;
// The transmitter model measures noise in 48 kHz; these rows in 25 kHz.
const double bandCorrectionDb = 10.0 * std::log10(48000.0 / 25000.0);
constexpr double trailingGuardSeconds = 0.3;  // as keelwave-aisgen leaves
constexpr std::uint64_t timingSeedSalt = 0x9E3779B97F4A7C15ULL;
constexpr std::uint64_t noiseRowSeed = 7;
constexpr double noiseChunkSeconds = 1.0;
// Hz per step of the 8-bit audio: 2400 / 35 puts the plateaus of its clean bursts at 2400 Hz
// (audio_to_iq's scale); the others make the modulation index 0.36 to 0.73 of that.
constexpr double longBeachHzPerUnit[] = {2400.0 / 35.0, 50.0, 70.0, 85.0, 100.0};
constexpr double longBeachChannelHz = -25000.0;
constexpr double longBeachAmplitude = 50.0;

struct Options {
    std::string keelwave;
    std::string replay;
    std::string baseline;
    std::string decoders = "classic,sensitive";
    std::string corpus = "../shared/data/real-aivdm.nmea";
    std::string invalid = "tests/data/real-aivdm-invalid-type.nmea";
    std::string longBeachAudio = "tests/data/long-beach-160-messages.wav";
    std::string longBeachExpected = "tests/data/long-beach-160-messages.expected.txt";
    std::size_t messages = 0;  // 0: the whole corpus
    double noiseMinutes = 30.0;
    std::uint64_t seed = 1;
    std::string work = "build/bench-sensitivity";
    bool keep = false;  // the recordings, besides what was printed for them
    std::string rows =
        "snr,offset,clock,strong,deviation,pulse,drift,ramp,phasenoise,invalid,noise,longbeach";
};

struct Recording {
    std::string path;
    std::map<char, std::vector<Bits>> sent;  // by channel, in order sent
    double seconds = 0.0;
};

std::vector<Bits> readMessages(const std::string& path, MessageVerdict keep) {
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::vector<Bits> messages;
    for (const AisMessage& message : readNmeaMessages(file).messages) {
        if (receiverVerdict(message.bits) == keep) {
            messages.push_back(message.bits);
        }
    }
    return messages;
}

// The messages alternately on A and B in the next free slots, as keelwave-aisgen lays them.
Recording render(const std::vector<Bits>& messages, const RecordingSettings& settings,
                 double bandwidthTime, const std::string& path) {
    Recording recording;
    recording.path = path;
    SlotPlan plan;
    plan.clockErrorPpm = settings.clockErrorPpm;
    GaussianNoise timing = makeGaussianNoise(settings.seed ^ timingSeedSalt);
    AlternatingLayout layout;
    layout.bitFraction = [&timing](std::size_t) { return nextUniform(timing); };
    const AlternatingBursts laidOut = layOutAlternately(messages, plan, layout);
    recording.sent = laidOut.sent;
    const auto total =
        static_cast<std::int64_t>(std::ceil(laidOut.endSample) + trailingGuardSeconds * rawRate);
    std::ofstream out(path, std::ios::binary);
    writeRecording(laidOut.bursts, total, settings, makeGmskPulse(bandwidthTime), out);
    if (!out) {
        throw std::runtime_error("writing " + path + " failed");
    }
    recording.seconds = static_cast<double>(total) / rawRate;
    return recording;
}

struct Score {
    std::size_t printed = 0;
    std::size_t printable = 0;
    std::vector<std::string> strays;
};

Score score(const Recording& recording, const Decoded& decoded, char onlyChannel) {
    Score total;
    for (const char channel : {'A', 'B'}) {
        if (onlyChannel != 0 && onlyChannel != channel) {
            continue;  // Sentences on a channel the row does not score count neither way.
        }
        const auto sent = recording.sent.find(channel);
        const auto received = decoded.sentences.find(channel);
        const ReceptionScore one = scoreReception(
            sent == recording.sent.end() ? std::vector<Bits>{} : sent->second, channel,
            received == decoded.sentences.end() ? std::vector<std::string>{} : received->second);
        total.printed += one.printed;
        total.printable += one.printable;
        total.strays.insert(total.strays.end(), one.strays.begin(), one.strays.end());
    }
    return total;
}

// What the decoders cost over every recording decoded.
struct Speed {
    double signalSeconds = 0.0;
    std::vector<double> cpuSeconds;
    std::vector<long> peakKb;
};

// The rows are measured with each of these.
struct Bench {
    Options options;
    std::vector<Decoder> decoders;
    std::vector<Bits> corpus;
    Speed speed;
    std::uint64_t seed = 1;
    int recordings = 0;
};

void decodeAndPrint(Bench& bench, const std::string& label, const Recording& recording,
                    char onlyChannel = 0) {
    std::printf("%-36s", label.c_str());
    std::size_t printable = 0;
    for (std::size_t d = 0; d < bench.decoders.size(); ++d) {
        const Decoded decoded = keelwave::bench::decodeFile(bench.decoders[d], recording.path);
        const Score one = score(recording, decoded, onlyChannel);
        bench.speed.cpuSeconds[d] += decoded.cpuSeconds;
        bench.speed.peakKb[d] = std::max(bench.speed.peakKb[d], decoded.peakKb);
        const double share = one.printable > 0 ? 100.0 * static_cast<double>(one.printed) /
                                                     static_cast<double>(one.printable)
                                               : 0.0;
        std::printf(" %8.2f %% %5zu", share, one.strays.size());
        printable = one.printable;
        // The false sentences stay beside the row's output, for a look afterwards.
        std::ofstream strays(recording.path + "." + bench.decoders[d].label + ".false.txt");
        for (const std::string& stray : one.strays) {
            strays << stray << '\n';
        }
    }
    std::printf("   (%zu messages)\n", printable);
    std::fflush(stdout);
    bench.speed.signalSeconds += recording.seconds;
    if (!bench.options.keep) {
        std::remove(recording.path.c_str());
    }
}

RecordingSettings settingsAt(Bench& bench, double snr25Db) {
    RecordingSettings settings;
    settings.amplitude = wantedAmplitude;
    settings.snrDb = snr25Db - bandCorrectionDb;
    settings.seed = bench.seed++;
    return settings;
}

// Renders the corpus with `settings` (and the pulse's BT) and measures it as one row.
void measure(Bench& bench, const std::string& label, const RecordingSettings& settings,
             double bandwidthTime = aisBandwidthTime, char onlyChannel = 0,
             const std::vector<Bits>* messages = nullptr) {
    const std::string path =
        bench.options.work + "/row-" + std::to_string(++bench.recordings) + ".cu8";
    decodeAndPrint(bench, label,
                   render(messages != nullptr ? *messages : bench.corpus, settings, bandwidthTime,
                          path),
                   onlyChannel);
}
void runNoise(Bench& bench) {
    const Options& options = bench.options;
    RecordingSettings level;
    level.amplitude = wantedAmplitude;
    level.snrDb = noiseLevelSnrDb - bandCorrectionDb;
    const double sigma = noisePerComponent(level);
    const auto total = static_cast<std::int64_t>(options.noiseMinutes * 60.0 * rawRate);
    std::printf("%-36s", "Pure noise");
    for (const Decoder& decoder : bench.decoders) {
        GaussianNoise noise = makeGaussianNoise(noiseRowSeed);
        const Decoded decoded = keelwave::bench::runDecoder(
            keelwave::bench::decodeCommand(decoder, "-"),
            options.work + "/noise." + decoder.chain + ".txt", [&](std::FILE* pipe) {
                std::vector<unsigned char> bytes(
                    static_cast<std::size_t>(2 * noiseChunkSeconds * rawRate));
                for (std::int64_t done = 0; done < total;) {
                    const auto pairs = std::min<std::int64_t>(
                        total - done, static_cast<std::int64_t>(bytes.size() / 2));
                    for (std::int64_t i = 0; i < 2 * pairs; ++i) {
                        const double code =
                            std::clamp(128.0 + std::round(sigma * nextGaussian(noise)), 0.0, 255.0);
                        bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(code);
                    }
                    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(2 * pairs), pipe);
                    done += pairs;
                }
            });
        std::size_t strays = 0;
        for (const auto& channel : decoded.sentences) {
            strays += channel.second.size();
        }
        std::printf(" %16zu", strays);
    }
    std::printf("   (false sentences in %.0f min of noise)\n", options.noiseMinutes);
    std::fflush(stdout);
}

void runLongBeach(Bench& bench) {
    const Options& options = bench.options;
    std::ifstream listing(options.longBeachExpected);
    std::multiset<std::string> listed;
    std::string line;
    while (std::getline(listing, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> sentences;
        for (auto at = line.find("!AIVDM"); at != std::string::npos;
             at = line.find("!AIVDM", at + 1)) {
            sentences.push_back(line.substr(at, line.find(' ', at) - at));
        }
        for (const std::string& message : keelwave::bench::payloads(sentences)) {
            listed.insert(message);
        }
    }
    const Audio audio = readWavAudio(options.longBeachAudio);
    const std::string path = options.work + "/long-beach.cu8";
    for (const double hzPerUnit : longBeachHzPerUnit) {
        {
            std::ofstream out(path, std::ios::binary);
            writeFmRecording(audio, {hzPerUnit, longBeachChannelHz, longBeachAmplitude}, out);
        }
        char label[64];
        std::snprintf(label, sizeof label, "Long Beach audio, %.1f Hz per step", hzPerUnit);
        std::printf("%-36s", label);
        for (const Decoder& decoder : bench.decoders) {
            Decoded decoded = keelwave::bench::decodeFile(decoder, path);
            std::multiset<std::string> remaining = listed;
            std::size_t found = 0;
            std::size_t unlisted = 0;
            for (const std::string& message : keelwave::bench::payloads(decoded.sentences['A'])) {
                const auto match = remaining.find(message);
                if (match != remaining.end()) {
                    remaining.erase(match);
                    ++found;
                } else {
                    ++unlisted;
                }
            }
            std::printf("  %3zu of %zu, %zu unlisted", found, listed.size(), unlisted);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::remove(path.c_str());
}

// Rows of a transmitter that is not ideal, at the SNRs where each matters.
void runTransmitterRows(Bench& bench, const std::string& kind) {
    char label[64];
    if (kind == "deviation") {
        for (const double snr : {4.0, 6.0, 12.0}) {
            for (const double hz : {1920.0, 2000.0, 2160.0, 2280.0, 2520.0, 2640.0, 2800.0,
                                    2880.0}) {
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
        for (const auto& [hz, snr] : {std::pair{150.0, 6.0}, {300.0, 6.0}, {-300.0, 6.0},
                                      {300.0, 4.0}, {300.0, 12.0}}) {
            RecordingSettings settings = settingsAt(bench, snr);
            settings.driftHzPerBurst = hz;
            std::snprintf(label, sizeof label, "Drift %+4.0f Hz per burst, SNR %2.0f dB", hz, snr);
            measure(bench, label, settings);
        }
    } else if (kind == "ramp") {
        for (const auto& [bits, snr] : {std::pair{4.0, 6.0}, {8.0, 6.0}, {8.0, 4.0}}) {
            RecordingSettings settings = settingsAt(bench, snr);
            settings.rampLateBits = bits;
            std::snprintf(label, sizeof label, "Ramp eating %.0f training bits, SNR %2.0f dB",
                          bits, snr);
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
            readMessages(bench.options.invalid, MessageVerdict::invalidIdentifier);
        std::vector<Bits> repeated;
        while (repeated.size() < bench.corpus.size()) {
            repeated.insert(repeated.end(), invalid.begin(), invalid.end());
        }
        for (const double snr : {quietSnrDb, 3.0}) {
            std::snprintf(label, sizeof label, "Invalid types only, SNR %2.0f dB", snr);
            measure(bench, label, settingsAt(bench, snr), aisBandwidthTime, 0, &repeated);
        }
    } else if (kind == "noise") {
        runNoise(bench);
    } else if (kind == "longbeach") {
        runLongBeach(bench);
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
        bench.corpus = readMessages(options.corpus, MessageVerdict::printed);
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
