#include "tools/transmitter/fm_recording.hpp"

#include "tools/transmitter/gmsk_pulse.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>

namespace keelwave::transmitter {

namespace {

constexpr int tunerRateHz = 288000;
constexpr int byteMidpoint = 128;
constexpr int riffHeaderBytes = 12;  // "RIFF", size, "WAVE"
constexpr int chunkHeaderBytes = 8;  // id, size
constexpr int pcmFormat = 1;
constexpr int bitsPerSample = 8;

uint32_t littleEndian(const std::vector<unsigned char>& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes.at(at + static_cast<size_t>(i));
    }
    return value;
}

}  // namespace

Audio readWavAudio(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    if (bytes.size() < riffHeaderBytes || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        throw std::runtime_error(path + ": not a WAV file");
    }
    Audio audio;
    bool formatSeen = false;
    for (size_t at = riffHeaderBytes; at + chunkHeaderBytes <= bytes.size();) {
        const uint32_t size = littleEndian(bytes, at + 4, 4);
        const size_t body = at + chunkHeaderBytes;
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0) {
            const uint32_t format = littleEndian(bytes, body, 2);
            const uint32_t channels = littleEndian(bytes, body + 2, 2);
            audio.rateHz = static_cast<int>(littleEndian(bytes, body + 4, 4));
            const uint32_t bits = littleEndian(bytes, body + 14, 2);
            if (format != pcmFormat || channels != 1 || bits != bitsPerSample) {
                throw std::runtime_error(path + ": not 8-bit mono PCM");
            }
            formatSeen = true;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0 && formatSeen) {
            const size_t end = std::min(bytes.size(), body + size);
            for (size_t i = body; i < end; ++i) {
                audio.samples.push_back(static_cast<int>(bytes[i]) - byteMidpoint);
            }
            return audio;
        }
        at = body + size + (size & 1);  // chunks are padded to even lengths
    }
    throw std::runtime_error(path + ": no audio data");
}

void writeFmRecording(const Audio& audio, const FmSettings& settings, std::ostream& out) {
    if (audio.rateHz <= 0 || tunerRateHz % audio.rateHz != 0) {
        throw std::runtime_error("audio rate must divide 288000 samples/s");
    }
    const int perAudioSample = tunerRateHz / audio.rateHz;
    const double channelStep = 2.0 * pi * settings.channelHz / tunerRateHz;  // radians/sample
    double phase = 0.0;
    std::vector<char> bytes;
    bytes.reserve(2 * static_cast<size_t>(perAudioSample));
    for (const int sample : audio.samples) {
        const double step =
            2.0 * pi * settings.hzPerUnit * sample / tunerRateHz + channelStep;  // radians/sample
        bytes.clear();
        for (int i = 0; i < perAudioSample; ++i) {
            phase = std::remainder(phase + step, 2.0 * pi);
            for (const double part : {std::cos(phase), std::sin(phase)}) {
                const double code =
                    std::clamp(byteMidpoint + std::round(settings.amplitude * part), 0.0, 255.0);
                bytes.push_back(static_cast<char>(static_cast<unsigned char>(code)));
            }
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

}  // namespace keelwave::transmitter
