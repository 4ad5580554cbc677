#pragma once

// What the whole-program sensitivity bench measures with: the recordings it renders from the
// corpus, the decoders it runs on them, and how it scores and prints a row.

#include "bench/program_decoding.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/gmsk_pulse.hpp"
#include "tools/transmitter/iq_recording.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace keelwave::bench {

using transmitter::Bits;

/// The carrier of every row but the strong ones, 8-bit steps: it keeps the noise of the lowest
/// SNR clear of the samples' range.
constexpr double wantedAmplitude = 20.0;
/// The transmitter model measures noise in 48 kHz; the rows in 25 kHz.
double bandCorrectionDb();

/// What the command line asks for.
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

/// A rendered recording and what was sent in it.
struct Recording {
    std::string path;
    std::map<char, std::vector<Bits>> sent;  ///< by channel, in order sent
    double seconds = 0.0;
};

/// What the decoders cost over every recording decoded.
struct Speed {
    double signalSeconds = 0.0;
    std::vector<double> cpuSeconds;
    std::vector<long> peakKb;
};

/// The rows are measured with each of these.
struct Bench {
    Options options;
    std::vector<Decoder> decoders;
    std::vector<Bits> corpus;
    Speed speed;
    std::uint64_t seed = 1;  ///< of the next recording
    int recordings = 0;
};

/// The messages of `path` whose verdict is `keep`.
std::vector<Bits> readMessages(const std::string& path, transmitter::MessageVerdict keep);

/// A row's settings at `snr25Db` (in 25 kHz), with the next seed.
transmitter::RecordingSettings settingsAt(Bench& bench, double snr25Db);

/// Renders `messages` (the corpus when null) with `settings` and a pulse of `bandwidthTime`,
/// decodes the recording with every decoder and prints the row `label`: each decoder's share of
/// the messages on `onlyChannel` (both when 0) and its false sentences.
void measure(Bench& bench, const std::string& label, const transmitter::RecordingSettings& settings,
             double bandwidthTime = transmitter::aisBandwidthTime, char onlyChannel = 0,
             const std::vector<Bits>* messages = nullptr);

/// Feeds every decoder options.noiseMinutes of noise at the level of the 2 dB row and prints
/// the sentences each printed.
void runNoise(Bench& bench);

/// Puts the Long Beach audio on channel A at each scale and prints what each decoder found of
/// the messages listed for it.
void runLongBeach(Bench& bench);

}  // namespace keelwave::bench
