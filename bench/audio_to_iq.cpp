// Turns the FM-discriminator audio of one AIS channel (an 8-bit mono WAV at 48000 samples/s,
// such as tests/data/long-beach-160-messages.wav) back into the tuner's stream: the audio
// frequency-modulates a carrier on channel A (-25 kHz) of a 288000 samples/s cu8 recording,
// which either chain can then decode.
//
//   audio_to_iq [--hz-per-unit HZ] [--channel-hz HZ] [--amplitude STEPS] INPUT.wav OUTPUT.cu8
//
// The scale: in long-beach-160-messages.wav the frequency plateaus of a clean burst (runs of
// equal levels, where GMSK reaches its full 2400 Hz deviation) lie 35 audio units either side
// of the burst's mean, so one unit is 2400 / 35 = 68.6 Hz. The mean itself is kept: it is the
// transmitter's carrier offset as the scanner heard it.
#include "tools/transmitter/fm_recording.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

namespace {

constexpr double deviationHz = 2400.0;
constexpr double plateauUnits = 35.0;

int usage() {
    std::fprintf(stderr,
                 "usage: audio_to_iq [--hz-per-unit HZ] [--channel-hz HZ] [--amplitude STEPS] "
                 "INPUT.wav OUTPUT.cu8\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    keelwave::transmitter::FmSettings settings;
    settings.hzPerUnit = deviationHz / plateauUnits;
    settings.channelHz = -25000.0;
    std::string input;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (i + 1 < argc && argument == "--hz-per-unit") {
            settings.hzPerUnit = std::atof(argv[++i]);
        } else if (i + 1 < argc && argument == "--channel-hz") {
            settings.channelHz = std::atof(argv[++i]);
        } else if (i + 1 < argc && argument == "--amplitude") {
            settings.amplitude = std::atof(argv[++i]);
        } else if (input.empty()) {
            input = argument;
        } else if (output.empty()) {
            output = argument;
        } else {
            return usage();
        }
    }
    if (output.empty()) {
        return usage();
    }
    try {
        const keelwave::transmitter::Audio audio = keelwave::transmitter::readWavAudio(input);
        std::ofstream out(output, std::ios::binary);
        keelwave::transmitter::writeFmRecording(audio, settings, out);
        if (!out) {
            std::fprintf(stderr, "audio_to_iq: writing %s failed\n", output.c_str());
            return 1;
        }
        std::printf("%zu audio samples (%.2f s) -> %s\n", audio.samples.size(),
                    static_cast<double>(audio.samples.size()) / audio.rateHz, output.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "audio_to_iq: %s\n", error.what());
        return 1;
    }
    return 0;
}
