// Sensitivity of the whole program, chain against chain: renders recordings of the tuner's
// stream from the real corpus with the transmitter model, decodes each with
// `keelwave -r FILE --decoder classic|sensitive` (or, before that option exists, with
// chain_replay), and prints the share of the messages each chain prints and the false
// messages (sentences of no message sent).
//
//   whole_program_sensitivity (--keelwave PATH | --replay PATH) [--corpus FILE]
//       [--invalid FILE] [--long-beach WAV EXPECTED] [--messages N] [--noise-minutes M]
//       [--work DIR] [--rows snr,offset,clock,strong,invalid,noise,longbeach]
//
// Every recording carries both channels busy: the messages alternate between A and B, each
// in the next free slot of its channel, so that bursts on A and B overlap in time. SNR is the
// carrier's power over the power of the complex noise that falls in 25 kHz (the transmitter
// model's own figure is over 48 kHz, 2.8 dB more noise). The carrier is 20 steps of the 8-bit
// samples, which keeps the noise of the lowest SNR clear of the samples' range; the strong
// rows put the wanted channel at 4 steps and 25 dB, the other at 126 steps, 30 dB stronger.
// Noise rows feed the program pure noise through standard input, at the level of the 2 dB row.
// CPU time and peak memory are those of the decoding processes, as GNU time reports them.
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
constexpr double noiseChunkSeconds = 1.0;
constexpr double longBeachHzPerUnit = 2400.0 / 35.0;  // audio_to_iq's scale
constexpr double longBeachChannelHz = -25000.0;
constexpr double longBeachAmplitude = 50.0;
const char* const chains[2] = {"classic", "sensitive"};

struct Options {
    std::string keelwave;
    std::string replay;
    std::string corpus = "../shared/data/real-aivdm.nmea";
    std::string invalid = "tests/data/real-aivdm-invalid-type.nmea";
    std::string longBeachAudio = "tests/data/long-beach-160-messages.wav";
    std::string longBeachExpected = "tests/data/long-beach-160-messages.expected.txt";
    std::size_t messages = 0;  // 0: the whole corpus
    double noiseMinutes = 30.0;
    std::string work = "build/bench-sensitivity";
    std::string rows = "snr,offset,clock,strong,invalid,noise,longbeach";
};

// What one decoding gave.
struct Decoded {
    std::map<char, std::vector<std::string>> sentences;  // by channel, in order printed
    double cpuSeconds = 0.0;
    long peakKb = 0;
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
Recording render(const std::vector<Bits>& messages, RecordingSettings settings,
                 const std::string& path) {
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
    writeRecording(laidOut.bursts, total, settings, makeGmskPulse(), out);
    if (!out) {
        throw std::runtime_error("writing " + path + " failed");
    }
    recording.seconds = static_cast<double>(total) / rawRate;
    return recording;
}

std::string decodeCommand(const Options& options, const std::string& chain,
                          const std::string& input) {
    if (!options.replay.empty()) {
        return options.replay + " --chain " + chain + " " + input;
    }
    return options.keelwave + " -r " + input + " --decoder " + chain;
}

// Reads the sentences a decoding printed (bare, or inside log lines) from `path`.
void collectSentences(const std::string& path, Decoded& decoded) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        const auto at = line.find("!AIVDM");
        if (at == std::string::npos) {
            continue;
        }
        const std::string sentence = line.substr(at);
        // !AIVDM,count,number,id,channel,...
        std::size_t field = 0;
        std::size_t position = 0;
        while (field < 4 && position != std::string::npos) {
            position = sentence.find(',', position + 1);
            ++field;
        }
        if (position != std::string::npos && position + 1 < sentence.size()) {
            decoded.sentences[sentence[position + 1]].push_back(sentence);
        }
    }
}

// Runs `command` (under GNU time, for its CPU time and peak memory) with its standard output
// in `outputPath`; `feed`, when given, writes its standard input.
template <typename Feed>
Decoded run(const std::string& command, const std::string& outputPath, Feed feed) {
    const std::string timesPath = outputPath + ".time";
    const std::string shell =
        "/usr/bin/time -f '%U %S %M' -o " + timesPath + " " + command + " > " + outputPath;
    FILE* pipe = popen(shell.c_str(), "w");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    feed(pipe);
    if (pclose(pipe) != 0) {
        throw std::runtime_error(command + " failed");
    }
    Decoded decoded;
    std::ifstream times(timesPath);
    double user = 0.0;
    double system = 0.0;
    times >> user >> system >> decoded.peakKb;
    decoded.cpuSeconds = user + system;
    collectSentences(outputPath, decoded);
    return decoded;
}

Decoded decodeFile(const Options& options, const std::string& chain, const std::string& input) {
    return run(decodeCommand(options, chain, input), input + "." + chain + ".txt", [](FILE*) {});
}

struct Score {
    std::size_t printed = 0;
    std::size_t printable = 0;
    std::size_t strays = 0;
};

Score score(const Recording& recording, const Decoded& decoded, const std::string& onlyChannel) {
    Score total;
    for (const char channel : {'A', 'B'}) {
        if (!onlyChannel.empty() && onlyChannel[0] != channel) {
            continue;
        }
        const auto sent = recording.sent.find(channel);
        const auto received = decoded.sentences.find(channel);
        const ReceptionScore one = scoreReception(
            sent == recording.sent.end() ? std::vector<Bits>{} : sent->second, channel,
            received == decoded.sentences.end() ? std::vector<std::string>{} : received->second);
        total.printed += one.printed;
        total.printable += one.printable;
        total.strays += one.strays.size();
    }
    // Sentences on a channel the row does not score are not counted either way.
    return total;
}

struct Speed {
    double signalSeconds = 0.0;
    double cpuSeconds[2] = {0.0, 0.0};
    long peakKb[2] = {0, 0};
};

void printRow(const std::string& label, const Score scores[2]) {
    std::printf("%-34s", label.c_str());
    for (int c = 0; c < 2; ++c) {
        const double share = scores[c].printable > 0
                                 ? 100.0 * static_cast<double>(scores[c].printed) /
                                       static_cast<double>(scores[c].printable)
                                 : 0.0;
        std::printf(" %8.2f %% %5zu", share, scores[c].strays);
    }
    std::printf("   (%zu messages)\n", scores[0].printable);
    std::fflush(stdout);
}

void decodeAndPrint(const Options& options, const std::string& label, const Recording& recording,
                    const std::string& onlyChannel, Speed& speed) {
    Score scores[2];
    for (int c = 0; c < 2; ++c) {
        const Decoded decoded = decodeFile(options, chains[c], recording.path);
        scores[c] = score(recording, decoded, onlyChannel);
        speed.cpuSeconds[c] += decoded.cpuSeconds;
        speed.peakKb[c] = std::max(speed.peakKb[c], decoded.peakKb);
    }
    speed.signalSeconds += recording.seconds;
    printRow(label, scores);
    std::remove(recording.path.c_str());
}

RecordingSettings settingsAt(double snr25Db, std::uint64_t seed) {
    RecordingSettings settings;
    settings.amplitude = wantedAmplitude;
    settings.snrDb = snr25Db - bandCorrectionDb;
    settings.seed = seed;
    return settings;
}

void runNoise(const Options& options) {
    const RecordingSettings level = settingsAt(noiseLevelSnrDb, 1);
    const double sigma = noisePerComponent(level);
    const auto total = static_cast<std::int64_t>(options.noiseMinutes * 60.0 * rawRate);
    std::size_t strays[2] = {0, 0};
    for (int c = 0; c < 2; ++c) {
        GaussianNoise noise = makeGaussianNoise(7);
        const Decoded decoded =
            run(decodeCommand(options, chains[c], "-"),
                options.work + "/noise." + chains[c] + ".txt", [&](FILE* pipe) {
                    std::vector<unsigned char> bytes(
                        static_cast<std::size_t>(2 * noiseChunkSeconds * rawRate));
                    for (std::int64_t done = 0; done < total;) {
                        const auto pairs = std::min<std::int64_t>(
                            total - done, static_cast<std::int64_t>(bytes.size() / 2));
                        for (std::int64_t i = 0; i < 2 * pairs; ++i) {
                            const double code = std::clamp(
                                128.0 + std::round(sigma * nextGaussian(noise)), 0.0, 255.0);
                            bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(code);
                        }
                        std::fwrite(bytes.data(), 1, static_cast<std::size_t>(2 * pairs), pipe);
                        done += pairs;
                    }
                });
        for (const auto& channel : decoded.sentences) {
            strays[c] += channel.second.size();
        }
    }
    std::printf("%-34s %13zu %16zu   (false sentences in %.0f min of noise)\n", "Pure noise",
                strays[0], strays[1], options.noiseMinutes);
    std::fflush(stdout);
}

// Message payloads (fragments joined, sequence id and checksum aside) of sentences as printed.
std::vector<std::string> payloads(const std::vector<std::string>& sentences) {
    std::vector<std::string> messages;
    std::string pending;
    for (const std::string& sentence : sentences) {
        std::vector<std::string> fields;
        std::stringstream stream(sentence);
        std::string field;
        while (std::getline(stream, field, ',')) {
            fields.push_back(field);
        }
        if (fields.size() < 7) {
            continue;
        }
        pending += fields[5];
        if (fields[1] == fields[2]) {
            messages.push_back(pending);
            pending.clear();
        }
    }
    return messages;
}

void runLongBeach(const Options& options) {
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
        for (const std::string& message : payloads(sentences)) {
            listed.insert(message);
        }
    }
    const std::string path = options.work + "/long-beach.cu8";
    {
        const keelwave::transmitter::Audio audio =
            keelwave::transmitter::readWavAudio(options.longBeachAudio);
        std::ofstream out(path, std::ios::binary);
        keelwave::transmitter::writeFmRecording(
            audio, {longBeachHzPerUnit, longBeachChannelHz, longBeachAmplitude}, out);
    }
    std::printf("%-34s", "Long Beach audio on channel A");
    for (const char* chain : chains) {
        Decoded decoded = decodeFile(options, chain, path);
        std::multiset<std::string> remaining = listed;
        std::size_t found = 0;
        std::size_t unlisted = 0;
        for (const std::string& message : payloads(decoded.sentences['A'])) {
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
    std::remove(path.c_str());
}

bool wanted(const Options& options, const std::string& row) {
    return ("," + options.rows + ",").find("," + row + ",") != std::string::npos;
}

int usage() {
    std::fprintf(
        stderr,
        "usage: whole_program_sensitivity (--keelwave PATH | --replay PATH) [--corpus FILE] "
        "[--invalid FILE] [--long-beach WAV EXPECTED] [--messages N] [--noise-minutes M] "
        "[--work DIR] [--rows LIST]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool more = i + 1 < argc;
        if (more && argument == "--keelwave") {
            options.keelwave = argv[++i];
        } else if (more && argument == "--replay") {
            options.replay = argv[++i];
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
        } else if (more && argument == "--work") {
            options.work = argv[++i];
        } else if (more && argument == "--rows") {
            options.rows = argv[++i];
        } else {
            return usage();
        }
    }
    if (options.keelwave.empty() == options.replay.empty()) {
        return usage();
    }
    try {
        std::system(("mkdir -p " + options.work).c_str());
        std::vector<Bits> corpus = readMessages(options.corpus, MessageVerdict::printed);
        if (options.messages > 0 && options.messages < corpus.size()) {
            corpus.resize(options.messages);
        }
        std::printf("%zu messages from %s, decoded with %s\n\n", corpus.size(),
                    options.corpus.c_str(),
                    options.replay.empty() ? options.keelwave.c_str() : options.replay.c_str());
        std::printf("%-34s %11s %5s %11s %5s\n", "", "classic", "false", "sensitive", "false");
        Speed speed;
        std::uint64_t seed = 1;
        // Each row's recording under a name of its own: it is removed once decoded, the
        // sentences each chain printed for it stay beside it for a look afterwards.
        int row = 0;
        const auto path = [&options, &row] {
            return options.work + "/row-" + std::to_string(++row) + ".cu8";
        };
        char label[64];
        if (wanted(options, "snr")) {
            for (const double snr : {2.0, 3.0, 4.0, 6.0, 8.0, 10.0, 12.0, 20.0}) {
                std::snprintf(label, sizeof label, "SNR %2.0f dB", snr);
                decodeAndPrint(options, label, render(corpus, settingsAt(snr, seed++), path()), "",
                               speed);
            }
        }
        if (wanted(options, "offset")) {
            for (const double hz : {-4000.0, -2000.0, -1000.0, 0.0, 1000.0, 2000.0, 4000.0}) {
                RecordingSettings settings = settingsAt(quietSnrDb, seed++);
                settings.carrierOffsetHz = hz;
                std::snprintf(label, sizeof label, "Carrier %+5.0f Hz, SNR 20 dB", hz);
                decodeAndPrint(options, label, render(corpus, settings, path()), "", speed);
            }
        }
        if (wanted(options, "clock")) {
            for (const double ppm : {-100.0, 100.0}) {
                RecordingSettings settings = settingsAt(quietSnrDb, seed++);
                settings.clockErrorPpm = ppm;
                std::snprintf(label, sizeof label, "Clock %+4.0f ppm, SNR 20 dB", ppm);
                decodeAndPrint(options, label, render(corpus, settings, path()), "", speed);
            }
        }
        if (wanted(options, "strong")) {
            for (int strong = 0; strong < 2; ++strong) {
                RecordingSettings settings = settingsAt(strongWantedSnrDb, seed++);
                settings.amplitude = strongWantedAmplitude;
                settings.channelAmplitude[strong] = strongOtherAmplitude;
                const char wantedChannel = strong == 0 ? 'B' : 'A';
                std::snprintf(label, sizeof label, "%c at 25 dB, %c 30 dB stronger", wantedChannel,
                              strong == 0 ? 'A' : 'B');
                decodeAndPrint(options, label, render(corpus, settings, path()),
                               std::string(1, wantedChannel), speed);
            }
        }
        if (wanted(options, "invalid")) {
            const std::vector<Bits> invalid =
                readMessages(options.invalid, MessageVerdict::invalidIdentifier);
            std::vector<Bits> repeated;
            while (repeated.size() < corpus.size()) {
                repeated.insert(repeated.end(), invalid.begin(), invalid.end());
            }
            for (const double snr : {quietSnrDb, 3.0}) {
                std::snprintf(label, sizeof label, "Invalid types only, SNR %2.0f dB", snr);
                decodeAndPrint(options, label, render(repeated, settingsAt(snr, seed++), path()),
                               "", speed);
            }
        }
        if (wanted(options, "noise")) {
            runNoise(options);
        }
        if (wanted(options, "longbeach")) {
            runLongBeach(options);
        }
        if (speed.signalSeconds > 0.0) {
            std::printf("\nDecoding the rendered recordings (%.0f s of signal):\n",
                        speed.signalSeconds);
            for (int c = 0; c < 2; ++c) {
                std::printf("  %-9s %7.1f s CPU, %6.1fx real time, peak %5.1f MB\n", chains[c],
                            speed.cpuSeconds[c], speed.signalSeconds / speed.cpuSeconds[c],
                            static_cast<double>(speed.peakKb[c]) / 1024.0);
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "whole_program_sensitivity: %s\n", error.what());
        return 1;
    }
    return 0;
}
