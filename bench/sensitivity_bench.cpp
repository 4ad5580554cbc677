#include "bench/sensitivity_bench.hpp"

#include "tools/transmitter/alternating_bursts.hpp"
#include "tools/transmitter/fm_recording.hpp"
#include "tools/transmitter/gaussian_noise.hpp"
#include "tools/transmitter/nmea_input.hpp"
#include "tools/transmitter/reception_score.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>

namespace keelwave::bench {

using namespace keelwave::transmitter;

namespace {

constexpr double noiseLevelSnrDb = 2.0;
constexpr double trailingGuardSeconds = 0.3;  // as keelwave-aisgen leaves
constexpr std::uint64_t timingSeedSalt = 0x9E3779B97F4A7C15ULL;
constexpr std::uint64_t noiseRowSeed = 7;
constexpr double noiseChunkSeconds = 1.0;
// Hz per step of the 8-bit audio: 2400 / 35 puts the plateaus of its clean bursts at 2400 Hz
// (audio_to_iq's scale); the others make the modulation index 0.36 to 0.73 of that.
constexpr double longBeachHzPerUnit[] = {2400.0 / 35.0, 50.0, 70.0, 85.0, 100.0};
constexpr double longBeachChannelHz = -25000.0;
constexpr double longBeachAmplitude = 50.0;

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

}  // namespace

double bandCorrectionDb() {
    return 10.0 * std::log10(48000.0 / 25000.0);
}

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

RecordingSettings settingsAt(Bench& bench, double snr25Db) {
    RecordingSettings settings;
    settings.amplitude = wantedAmplitude;
    settings.snrDb = snr25Db - bandCorrectionDb();
    settings.seed = bench.seed++;
    return settings;
}

// Renders the corpus with `settings` (and the pulse's BT) and measures it as one row.
void measure(Bench& bench, const std::string& label, const RecordingSettings& settings,
             double bandwidthTime, char onlyChannel, const std::vector<Bits>* messages) {
    const std::string path =
        bench.options.work + "/row-" + std::to_string(++bench.recordings) + ".cu8";
    decodeAndPrint(
        bench, label,
        render(messages != nullptr ? *messages : bench.corpus, settings, bandwidthTime, path),
        onlyChannel);
}
void runNoise(Bench& bench) {
    const Options& options = bench.options;
    RecordingSettings level;
    level.amplitude = wantedAmplitude;
    level.snrDb = noiseLevelSnrDb - bandCorrectionDb();
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

}  // namespace keelwave::bench
