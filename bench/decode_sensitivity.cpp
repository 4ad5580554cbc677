// Share of the real messages in the test corpus that the receiver prints as the signal gets
// worse: white noise, transmitter clock error, carrier frequency error. A measurement, not a
// test: it prints tables and always succeeds.
//
//   decode_sensitivity [corpus.nmea]
//
// Every message goes out as a complete GMSK burst (BT 0.4, 2400 Hz deviation) from the
// transmitter model, one per AIS slot on channel A, and the discriminator samples reach
// processSamples in 4096-sample blocks, as the channel thread hands them over.
//
// SNR here lives in the discriminator domain: the peak deviation (2400 Hz = 1638.4 units) over
// the RMS of white Gaussian noise added to every discriminator sample at 48000 samples/s:
// SNR = 20 log10(1638.4 / noiseRms). The noise runs on through the gaps between bursts.
#include "ais/ais_receiver.hpp"
#include "tools/transmitter/burst_stream.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace transmitter;

namespace {

constexpr int32_t kBlockSamples = 4096;  // discriminator samples per processSamples call
// Successive bursts start this far apart (modulo one bit) within their slots: an irrational
// share of a bit, so the corpus sweeps every phase against the receiver's bit clock.
constexpr double kOffsetStepSamples = 5.0 * 0.6180339887;
constexpr int kSeeds = 3;             // noise realisations per SNR: three passes of the corpus
constexpr double kQuietSnrDb = 30.0;  // "high SNR" for the clock and carrier sweeps

struct Corpus {
    std::vector<Bits> messages;  ///< every message, in file order, as sent on air
    /// Per message, its sentences as the receiver prints them, sequence id and checksum
    /// removed (empty when a receiver prints nothing for it).
    std::vector<std::vector<std::string>> printed;
    std::size_t printable = 0;
};

// The sequence id counts the messages printed before, so it changes as soon as one is lost;
// comparing sentences without it (and without the checksum over it) judges each on its own.
std::string withoutSequenceId(const std::string& sentence) {
    std::string fields;
    int comma = 0;
    for (const char character : sentence) {
        if (character == '*') {
            break;
        }
        comma += character == ',' ? 1 : 0;
        if (comma != 3 || character == ',') {
            fields += character;
        }
    }
    return fields;
}

Corpus loadCorpus(const std::string& path) {
    std::ifstream file(path);
    Corpus corpus;
    SequenceCounters counters;
    for (const AisMessage& message : readNmeaMessages(file).messages) {
        corpus.messages.push_back(message.bits);
        std::vector<std::string> keys;
        if (receiverVerdict(message.bits) == MessageVerdict::printed) {
            for (const std::string& sentence : expectedSentences(message.bits, 'A', counters)) {
                keys.push_back(withoutSequenceId(sentence));
            }
            ++corpus.printable;
        }
        corpus.printed.push_back(keys);
    }
    return corpus;
}

void collectSentence(void* context, const char* sentence) {
    static_cast<std::vector<std::string>*>(context)->push_back(withoutSequenceId(sentence));
}

std::vector<std::string> decode(const std::vector<std::int16_t>& samples) {
    std::vector<std::string> sentences;
    AisReceiver* receiver =
        createAisReceiver('A', false, &collectSentence, &sentences, nullptr, nullptr);
    for (std::size_t start = 0; start < samples.size(); start += kBlockSamples) {
        const auto count = std::min<std::size_t>(kBlockSamples, samples.size() - start);
        processSamples(receiver, &samples[start], static_cast<int32_t>(count));
    }
    destroyAisReceiver(receiver);
    return sentences;
}

struct Score {
    std::size_t printed = 0;  ///< messages that came back whole
    std::size_t strays = 0;   ///< sentences that belong to no message sent
};

// Received sentences come in burst order: each is looked for among the messages after the last
// one matched.
Score score(const Corpus& corpus, const std::vector<std::string>& received) {
    Score result;
    std::size_t message = 0;
    for (std::size_t next = 0; next < received.size();) {
        std::size_t match = message;
        for (; match < corpus.printed.size(); ++match) {
            const std::vector<std::string>& expected = corpus.printed[match];
            if (!expected.empty() && next + expected.size() <= received.size() &&
                std::equal(expected.begin(), expected.end(), received.begin() + next)) {
                break;
            }
        }
        if (match == corpus.printed.size()) {
            std::fprintf(stderr, "stray: %s\n", received[next].c_str());
            ++result.strays;
            ++next;
            continue;
        }
        ++result.printed;
        next += corpus.printed[match].size();
        message = match + 1;
    }
    return result;
}

Score run(const Corpus& corpus, const GmskPulse& pulse, StreamSettings settings, int seeds) {
    Score total;
    for (int seed = 1; seed <= seeds; ++seed) {
        settings.seed = static_cast<std::uint64_t>(seed);
        const Score one =
            score(corpus, decode(renderBurstStream(pulse, corpus.messages, settings).samples));
        total.printed += one.printed;
        total.strays += one.strays;
    }
    return total;
}

void printRow(const char* label, double value, const Score& result, std::size_t sent) {
    std::printf("%-14s %9.1f %8zu / %-6zu %6.1f %%  %6zu\n", label, value, result.printed, sent,
                100.0 * static_cast<double>(result.printed) / static_cast<double>(sent),
                result.strays);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path =
        argc > 1 ? argv[1] : std::string(TEST_DATA_DIR) + "/real-aivdm-sample.nmea";
    const Corpus corpus = loadCorpus(path);
    if (corpus.printable == 0) {
        std::fprintf(stderr, "no printable messages in %s\n", path.c_str());
        return 1;
    }
    const GmskPulse pulse = makeGmskPulse();
    StreamSettings base;
    base.offsetStepSamples = kOffsetStepSamples;

    std::printf("%zu messages, %zu of them printable, from %s\n\n", corpus.messages.size(),
                corpus.printable, path.c_str());
    std::printf("Noise (SNR = 20 log10(1638.4 / noise RMS), %d noise seeds)\n", kSeeds);
    std::printf("%-14s %9s %17s %8s  %6s\n", "SNR dB", "noise RMS", "printed / sent", "share",
                "stray");
    for (const double snrDb : {30.0, 25.0, 20.0, 15.0, 12.0, 10.0, 8.0, 6.0}) {
        StreamSettings settings = base;
        settings.noiseRms = noiseRmsForSnr(snrDb);
        char label[32];
        std::snprintf(label, sizeof label, "%.0f", snrDb);
        printRow(label, settings.noiseRms, run(corpus, pulse, settings, kSeeds),
                 corpus.printable * kSeeds);
    }

    std::printf("\nTransmitter clock error (SNR %.0f dB, 1 seed)\n", kQuietSnrDb);
    std::printf("%-14s %9s %17s %8s  %6s\n", "clock error", "ppm", "printed / sent", "share",
                "stray");
    for (const double ppm : {-10000.0, -8000.0, -6000.0, -4000.0, -2000.0, -100.0, 0.0, 100.0,
                             2000.0, 4000.0, 6000.0, 8000.0, 10000.0}) {
        StreamSettings settings = base;
        settings.noiseRms = noiseRmsForSnr(kQuietSnrDb);
        settings.clockErrorPpm = ppm;
        char label[32];
        std::snprintf(label, sizeof label, "%+.2f %%", ppm / 1e4);
        printRow(label, ppm, run(corpus, pulse, settings, 1), corpus.printable);
    }

    std::printf("\nCarrier frequency error (SNR %.0f dB, 1 seed)\n", kQuietSnrDb);
    std::printf("%-14s %9s %17s %8s  %6s\n", "offset", "Hz", "printed / sent", "share", "stray");
    for (const double hz : {-1500.0, -1200.0, -1000.0, -800.0, -600.0, -400.0, -200.0, 0.0, 200.0,
                            400.0, 600.0, 800.0, 1000.0, 1200.0, 1500.0}) {
        StreamSettings settings = base;
        settings.noiseRms = noiseRmsForSnr(kQuietSnrDb);
        settings.carrierOffsetHz = hz;
        char label[32];
        std::snprintf(label, sizeof label, "%+.0f Hz", hz);
        printRow(label, hz, run(corpus, pulse, settings, 1), corpus.printable);
    }

    std::printf(
        "\nBurst timing against the sample grid (SNR %.0f dB, 1 seed): every burst starts\n"
        "the given fraction of a sample after a sample instant\n",
        kQuietSnrDb);
    std::printf("%-14s %9s %17s %8s  %6s\n", "start", "fraction", "printed / sent", "share",
                "stray");
    for (int tenth = 0; tenth < 10; ++tenth) {
        StreamSettings settings = base;
        settings.noiseRms = noiseRmsForSnr(kQuietSnrDb);
        settings.firstOffsetSamples = tenth / 10.0;
        settings.offsetStepSamples = 1.0;  // whole samples: the fraction stays
        char label[32];
        std::snprintf(label, sizeof label, "+%.1f sample", tenth / 10.0);
        printRow(label, tenth / 10.0, run(corpus, pulse, settings, 1), corpus.printable);
    }
    return 0;
}
