// keelwave-aisgen: turns NMEA AIS sentences into a raw recording of the tuner's stream
// (unsigned 8-bit I/Q at 288000 samples/s around 162 MHz) in which every message is a GMSK
// burst on channel A or B, plus the text file of sentences a correct receiver prints for it.

#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/burst_schedule.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/gaussian_noise.hpp"
#include "tools/transmitter/iq_recording.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <boost/program_options.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

namespace po = boost::program_options;
using namespace keelwave::transmitter;

namespace {

constexpr const char* program = "keelwave-aisgen";
// The receiver hands demodulated samples on in blocks of 4096 (85 ms at 48000/s) and drops a
// partial block at the end, and the tuner delivers 102400-byte transfers (178 ms): a burst
// ending within the last 0.3 s of a recording might never be decoded, so none is put there.
constexpr double trailingGuardSeconds = 0.3;
constexpr double maxAmplitude = 127.0;     // largest swing of an 8-bit sample around 128
constexpr double maxClockErrorPpm = 1e4;   // 1 %: far beyond any real transmitter
constexpr double maxDeviationHz = 4800.0;  // modulation index 1: twice the AIS deviation
constexpr double minBandwidthTime = 0.2;   // BT range of GMSK transmitters worth modelling
constexpr double maxBandwidthTime = 1.0;
constexpr std::uint64_t timingSeedSalt = 0x9E3779B97F4A7C15ULL;  // keeps timing apart from noise

struct Options {
    std::string input;
    std::string output;
    std::string expected;
    std::string channelMode;
    std::int64_t spacingSlots = 1;
    double durationSeconds = 0.0;
    double leadingSeconds = 0.0;
    double bandwidthTime = aisBandwidthTime;
    RecordingSettings recording;
};

// A message that a receiver will print, ready to go on air.
struct Playable {
    Bits bits;
    Bits levels;
    char channel = 0;
};

struct ExpectedEntry {
    double endSample = 0.0;
    std::vector<std::string> sentences;
};

po::options_description describeOptions(Options& options) {
    po::options_description description("Options");
    // clang-format off
    description.add_options()
        ("help,h", "This help message")
        ("input,i", po::value(&options.input)->default_value("-"),
            "NMEA sentences, one per line ('-' = standard input)")
        ("output,o", po::value(&options.output)->required(), "Raw cu8 recording to write")
        ("expected,e", po::value(&options.expected),
            "Expected receiver sentences (default: output name with .expected.txt)")
        ("channel", po::value(&options.channelMode)->default_value("alternate"),
            "alternate: A, B, A, ...; sentence: the sentence's channel (alternating if empty)")
        ("spacing", po::value(&options.spacingSlots)->default_value(1),
            "Slots from one burst start to the next on a channel (26.67 ms each)")
        ("duration", po::value(&options.durationSeconds)->default_value(0.0),
            "Recording length in seconds, repeating the input to fill it (0 = one pass)")
        ("leading-silence", po::value(&options.leadingSeconds)->default_value(0.0),
            "Seconds of noise before the first slot")
        ("snr", po::value(&options.recording.snrDb),
            "Carrier to noise in dB, noise measured in 48 kHz around a channel (default: none)")
        ("amplitude", po::value(&options.recording.amplitude)->default_value(50.0),
            "Carrier amplitude in 8-bit sample steps (1..127)")
        ("amplitude-a", po::value(&options.recording.channelAmplitude[0]),
            "Carrier amplitude of channel A's bursts (default: --amplitude; the noise follows "
            "--amplitude and --snr)")
        ("amplitude-b", po::value(&options.recording.channelAmplitude[1]),
            "Carrier amplitude of channel B's bursts (default: --amplitude)")
        ("carrier-offset", po::value(&options.recording.carrierOffsetHz)->default_value(0.0),
            "Frequency error of the transmitters, Hz")
        ("ppm", po::value(&options.recording.clockErrorPpm)->default_value(0.0),
            "Bit clock error of the transmitters, ppm (positive = longer bits)")
        ("deviation", po::value(&options.recording.deviationHz)->default_value(aisDeviationHz),
            "Peak frequency deviation of the transmitters, Hz (modulation index = deviation / "
            "4800)")
        ("bt", po::value(&options.bandwidthTime)->default_value(aisBandwidthTime, "0.4"),
            "Bandwidth-time product of the transmitters' Gaussian filter (0.2..1)")
        ("drift", po::value(&options.recording.driftHzPerBurst)->default_value(0.0),
            "Carrier frequency change over each burst, Hz, linear from its start to its end")
        ("ramp-late", po::value(&options.recording.rampLateBits)->default_value(0.0),
            "Training bits the power ramp-up eats: full power that many bits into the training")
        ("phase-noise", po::value(&options.recording.phaseNoiseHz)->default_value(0.0),
            "Oscillator phase noise as the linewidth of a random-walk phase, Hz")
        ("seed", po::value(&options.recording.seed)->default_value(1),
            "Seed of the noise and burst timing")
        ("rate", po::value(&options.recording.pairsPerSecond)->default_value(288000.0, "288000"),
            "Sample rate of the recording, samples/s, for receivers that take another rate down "
            "to 288000 (the noise in 48 kHz stays as --snr says)");
    // clang-format on
    return description;
}

void checkOptions(Options& options) {
    if (options.recording.amplitude <= 0.0 || options.recording.amplitude > maxAmplitude) {
        throw po::error("--amplitude must lie in (0, 127]");
    }
    for (const double channelAmplitude : options.recording.channelAmplitude) {
        if (channelAmplitude < 0.0 || channelAmplitude > maxAmplitude) {
            throw po::error("--amplitude-a and --amplitude-b must lie in (0, 127]");
        }
    }
    if (options.spacingSlots < 1) {
        throw po::error("--spacing must be at least 1 slot");
    }
    if (options.durationSeconds < 0.0 || options.leadingSeconds < 0.0) {
        throw po::error("--duration and --leading-silence must not be negative");
    }
    if (std::fabs(options.recording.clockErrorPpm) > maxClockErrorPpm) {
        throw po::error("--ppm must lie within +-10000");
    }
    if (options.recording.deviationHz <= 0.0 || options.recording.deviationHz > maxDeviationHz) {
        throw po::error("--deviation must lie in (0, 4800]");
    }
    if (options.bandwidthTime < minBandwidthTime || options.bandwidthTime > maxBandwidthTime) {
        throw po::error("--bt must lie in [0.2, 1]");
    }
    if (options.recording.rampLateBits < 0.0 || options.recording.rampLateBits > trainingBits) {
        throw po::error("--ramp-late must lie in [0, 24]");
    }
    if (options.recording.phaseNoiseHz < 0.0) {
        throw po::error("--phase-noise must not be negative");
    }
    if (options.recording.pairsPerSecond < static_cast<double>(rawRate)) {
        throw po::error("--rate must be at least 288000");
    }
    if (options.channelMode != "alternate" && options.channelMode != "sentence") {
        throw po::error("--channel must be alternate or sentence");
    }
    if (options.expected.empty()) {
        const std::string suffix = ".cu8";
        std::string stem = options.output;
        if (stem.size() > suffix.size() &&
            stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0) {
            stem.resize(stem.size() - suffix.size());
        }
        options.expected = stem + ".expected.txt";
    }
}

NmeaReadReport readInput(const std::string& input) {
    if (input == "-") {
        return readNmeaMessages(std::cin);
    }
    std::ifstream file(input);
    if (!file) {
        throw std::runtime_error("cannot read " + input);
    }
    return readNmeaMessages(file);
}

std::vector<Playable> selectPlayable(const NmeaReadReport& report) {
    std::vector<Playable> playable;
    for (const AisMessage& message : report.messages) {
        const MessageVerdict verdict = receiverVerdict(message.bits);
        if (verdict != MessageVerdict::printed) {
            std::cerr << "note: line " << message.firstLine << ": message skipped, "
                      << verdictText(verdict, message.bits) << std::endl;
            continue;
        }
        playable.push_back({message.bits, nrziEncode(burstBits(message.bits)), message.channel});
    }
    return playable;
}

int run(const Options& options) {
    const NmeaReadReport report = readInput(options.input);
    for (const std::string& problem : report.problems) {
        std::cerr << "note: " << problem << std::endl;
    }
    const std::vector<Playable> playable = selectPlayable(report);
    if (playable.empty()) {
        std::cerr << program << ": no message to transmit" << std::endl;
        return 1;
    }

    const bool looping = options.durationSeconds > 0.0;
    const auto guard = static_cast<std::int64_t>(trailingGuardSeconds * rawRate);
    std::int64_t totalSamples = std::llround(options.durationSeconds * rawRate);
    SlotPlan plan;
    plan.firstSlotSample = std::llround(options.leadingSeconds * rawRate);
    plan.spacingSlots = options.spacingSlots;
    plan.endSample = looping ? totalSamples - guard : -1;
    plan.clockErrorPpm = options.recording.clockErrorPpm;

    GaussianNoise timing = makeGaussianNoise(options.recording.seed ^ timingSeedSalt);
    const double perBit = rawSamplesPerBit(options.recording.clockErrorPpm);
    SequenceCounters counters;
    std::vector<RecordedBurst> bursts;
    std::vector<ExpectedEntry> expected;
    char nextAlternate = 'A';
    for (std::size_t index = 0; looping || index < playable.size(); ++index) {
        const Playable& message = playable[index % playable.size()];
        char channel = nextAlternate;
        if (options.channelMode == "sentence" && message.channel != 0) {
            channel = message.channel;
        } else {
            nextAlternate = nextAlternate == 'A' ? 'B' : 'A';
        }
        // Transmitters never hit the slot boundary exactly; spreading the start over a bit
        // also varies where the receiver's sampling instants fall within the bits.
        const double offset = nextUniform(timing) * perBit;
        const double start = placeBurst(plan, channel, message.levels.size(), offset);
        if (start < 0.0) {
            break;
        }
        bursts.push_back({message.levels, channel, start});
        expected.push_back({burstEndSample(start, message.levels.size(), plan.clockErrorPpm),
                            expectedSentences(message.bits, channel, counters)});
    }
    if (!looping) {
        double lastEnd = 0.0;
        for (const ExpectedEntry& entry : expected) {
            lastEnd = std::max(lastEnd, entry.endSample);
        }
        totalSamples = static_cast<std::int64_t>(std::ceil(lastEnd)) + guard;
    }

    // A receiver prints a message once its burst has ended; between the channels this is the
    // order to expect, within a channel it is exact.
    std::stable_sort(expected.begin(), expected.end(),
                     [](const ExpectedEntry& left, const ExpectedEntry& right) {
                         return left.endSample < right.endSample;
                     });
    std::ofstream expectedFile(options.expected);
    std::size_t sentenceCount = 0;
    for (const ExpectedEntry& entry : expected) {
        for (const std::string& sentence : entry.sentences) {
            expectedFile << sentence << '\n';
            ++sentenceCount;
        }
    }
    std::ofstream recording(options.output, std::ios::binary);
    if (!recording) {
        throw std::runtime_error("cannot write " + options.output);
    }
    writeRecording(bursts, totalSamples, options.recording, makeGmskPulse(options.bandwidthTime),
                   recording);
    recording.close();
    expectedFile.close();
    if (!recording || !expectedFile) {
        throw std::runtime_error("writing " + options.output + " or " + options.expected +
                                 " failed");
    }

    const auto onA = std::count_if(bursts.begin(), bursts.end(),
                                   [](const RecordedBurst& burst) { return burst.channel == 'A'; });
    std::cout << std::fixed << std::setprecision(3) << "Read " << report.sentences
              << " sentences: " << report.messages.size() << " messages, "
              << report.messages.size() - playable.size() << " skipped, " << report.problems.size()
              << " input problems." << std::endl
              << "Wrote " << bursts.size() << " bursts (A " << onA << ", B "
              << bursts.size() - static_cast<std::size_t>(onA) << ") in "
              << static_cast<double>(totalSamples) / rawRate << " s to " << options.output
              << " (cu8 at " << std::setprecision(0) << options.recording.pairsPerSecond
              << " samples/s, 162 MHz)" << std::endl
              << "Wrote " << sentenceCount << " expected sentences to " << options.expected << "."
              << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const po::options_description description = describeOptions(options);
    po::positional_options_description positional;
    positional.add("input", 1);
    try {
        po::variables_map values;
        po::store(
            po::command_line_parser(argc, argv).options(description).positional(positional).run(),
            values);
        if (values.count("help") != 0) {
            std::cout << "Usage: " << program << " [options] [input.nmea]" << std::endl
                      << description << std::endl;
            return 0;
        }
        po::notify(values);
        checkOptions(options);
    } catch (const po::error& error) {
        std::cerr << "Error: " << error.what() << std::endl;
        return 1;
    }
    try {
        return run(options);
    } catch (const std::exception& error) {
        std::cerr << program << ": " << error.what() << std::endl;
        return 1;
    }
}
