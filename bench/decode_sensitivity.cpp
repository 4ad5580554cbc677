// Share of the real messages in the test corpus that the receiver prints as the signal gets
// worse: white noise, transmitter clock error, carrier frequency error, and where the bit
// edges fall against the sample grid. A measurement, not a test: it prints tables.
//
//   decode_sensitivity [corpus.nmea]
//
// Every message goes out as a complete GMSK burst (BT 0.4, 2400 Hz deviation) from the
// transmitter model, one per AIS slot on channel A, and the discriminator samples reach
// processSamples in 4096-sample blocks, as the channel thread hands them over.
//
// SNR here lives in the discriminator domain: the peak deviation (2400 Hz = 1638.4 units) over
// the RMS of white Gaussian noise added to every discriminator sample at 48000 samples/s:
// SNR = 20 log10(1638.4 / noise RMS). The noise runs on through the gaps between bursts.
#include "ais/classic/ais_decoder.hpp"
#include "tools/transmitter/burst_stream.hpp"
#include "tools/transmitter/nmea_input.hpp"
#include "tools/transmitter/reception_score.hpp"

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace keelwave::transmitter;

namespace {

constexpr int32_t blockSamples = 4096;  // discriminator samples per processSamples call
// Successive bursts start this far apart (modulo one bit) within their slots: an irrational
// share of a bit, so the corpus sweeps every phase against the receiver's bit clock.
constexpr double offsetStepSamples = 5.0 * 0.6180339887;
constexpr int noiseSeeds = 3;        // noise realisations per row: three passes of the corpus
constexpr double quietSnrDb = 30.0;  // the SNR of the clock, carrier and timing sweeps

void collectSentences(void* context, const keelwave::ais::AisMessage& message) {
    for (std::int32_t index = 0; index < message.sentenceCount; ++index) {
        static_cast<std::vector<std::string>*>(context)->emplace_back(message.sentence(index));
    }
}

std::vector<std::string> decode(const std::vector<std::int16_t>& samples) {
    std::vector<std::string> sentences;
    const auto decoder = std::make_unique<keelwave::ais::AisDecoder>(
        'A', false, keelwave::ais::MessageSink{&collectSentences, &sentences}, nullptr, nullptr);
    for (std::size_t start = 0; start < samples.size(); start += blockSamples) {
        const auto count = std::min<std::size_t>(blockSamples, samples.size() - start);
        decoder->process(&samples[start], static_cast<int32_t>(count));
    }
    return sentences;
}

struct Row {
    std::size_t printed = 0;
    std::size_t printable = 0;
    std::size_t strays = 0;
};

Row run(const std::vector<Bits>& messages, const GmskPulse& pulse, StreamSettings settings,
        int seeds) {
    Row row;
    for (int seed = 1; seed <= seeds; ++seed) {
        settings.seed = static_cast<std::uint64_t>(seed);
        const BurstStream stream = renderBurstStream(pulse, messages, settings);
        const ReceptionScore score = scoreReception(messages, 'A', decode(stream.samples));
        row.printed += score.printed;
        row.printable += score.printable;
        row.strays += score.strays.size();
    }
    return row;
}

void printHeader(const char* title, const char* first, const char* second) {
    std::printf("\n%s\n%-14s %9s %17s %8s  %6s\n", title, first, second, "printed / sent", "share",
                "stray");
}

void printRow(const char* label, double value, const Row& row) {
    std::printf(
        "%-14s %9.1f %8zu / %-6zu %6.1f %%  %6zu\n", label, value, row.printed, row.printable,
        100.0 * static_cast<double>(row.printed) / static_cast<double>(row.printable), row.strays);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path =
        argc > 1 ? argv[1] : std::string(TEST_DATA_DIR) + "/real-aivdm-sample.nmea";
    std::ifstream file(path);
    std::vector<Bits> messages;
    for (const AisMessage& message : readNmeaMessages(file).messages) {
        messages.push_back(message.bits);
    }
    if (scoreReception(messages, 'A', {}).printable == 0) {
        std::fprintf(stderr, "no printable messages in %s\n", path.c_str());
        return 1;
    }
    const GmskPulse pulse = makeGmskPulse();
    StreamSettings quiet;
    quiet.offsetStepSamples = offsetStepSamples;
    quiet.noiseRms = noiseRmsForSnr(quietSnrDb);
    std::printf("%zu messages from %s; sent = those a correct receiver prints\n", messages.size(),
                path.c_str());
    char label[32];

    printHeader("White noise (SNR = 20 log10(1638.4 / noise RMS), 3 noise seeds)", "SNR dB",
                "noise RMS");
    for (const double snrDb : {30.0, 25.0, 20.0, 15.0, 12.0, 10.0, 8.0, 6.0}) {
        StreamSettings settings = quiet;
        settings.noiseRms = noiseRmsForSnr(snrDb);
        std::snprintf(label, sizeof label, "%.0f", snrDb);
        printRow(label, settings.noiseRms, run(messages, pulse, settings, noiseSeeds));
    }

    printHeader("Transmitter bit clock error (SNR 30 dB, 3 noise seeds)", "clock error", "ppm");
    for (const double ppm : {-10000.0, -8000.0, -6000.0, -5000.0, -4000.0, -3000.0, -2000.0,
                             -1000.0,  -100.0,  -50.0,   0.0,     50.0,    100.0,   1000.0,
                             2000.0,   3000.0,  4000.0,  5000.0,  6000.0,  8000.0,  10000.0}) {
        StreamSettings settings = quiet;
        settings.clockErrorPpm = ppm;
        std::snprintf(label, sizeof label, "%+.3f %%", ppm / 1e4);
        printRow(label, ppm, run(messages, pulse, settings, noiseSeeds));
    }

    printHeader("Transmitter bit clock error without noise", "clock error", "ppm");
    for (const double ppm : {-8000.0, -6000.0, -5000.0, -4000.0, -3000.0, -2000.0, -1000.0,
                             -500.0,  -200.0,  -100.0,  0.0,     100.0,   200.0,   500.0,
                             1000.0,  2000.0,  3000.0,  4000.0,  5000.0,  6000.0,  8000.0}) {
        StreamSettings settings = quiet;
        settings.noiseRms = 0.0;
        settings.clockErrorPpm = ppm;
        std::snprintf(label, sizeof label, "%+.3f %%", ppm / 1e4);
        printRow(label, ppm, run(messages, pulse, settings, 1));
    }

    printHeader("Carrier frequency error during the bursts (SNR 30 dB, 3 noise seeds)", "offset",
                "Hz");
    for (const double hz : {-1500.0, -1000.0, -500.0, -300.0, -200.0, -100.0, -50.0, 0.0, 50.0,
                            100.0, 200.0, 300.0, 500.0, 1000.0, 1500.0}) {
        StreamSettings settings = quiet;
        settings.carrierOffsetHz = hz;
        std::snprintf(label, sizeof label, "%+.0f Hz", hz);
        printRow(label, hz, run(messages, pulse, settings, noiseSeeds));
    }

    printHeader(
        "Bit edges against the sample grid (SNR 30 dB, 3 noise seeds): every burst starts the "
        "given\n"
        "fraction of a sample after a sample instant",
        "start", "fraction");
    for (int tenth = 0; tenth < 10; ++tenth) {
        StreamSettings settings = quiet;
        settings.firstOffsetSamples = tenth / 10.0;
        settings.offsetStepSamples = 1.0;  // whole samples: the fraction stays
        std::snprintf(label, sizeof label, "+%.1f sample", tenth / 10.0);
        printRow(label, tenth / 10.0, run(messages, pulse, settings, noiseSeeds));
    }
    return 0;
}
