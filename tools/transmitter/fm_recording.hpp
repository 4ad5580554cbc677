#pragma once

// A recording of FM-discriminator audio (what a scanner's discriminator tap gives for one AIS
// channel) turned back into the tuner's stream: the audio is taken as the carrier's
// instantaneous frequency, its running sum as the phase, and the carrier is put on a channel of
// a 288000 samples/s unsigned 8-bit I/Q recording.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace keelwave::transmitter {

/// 8-bit mono audio, each sample less its midpoint 128.
struct Audio {
    std::vector<int> samples;
    int rateHz = 0;
};

/// Reads an uncompressed 8-bit mono WAV file. Throws std::runtime_error when it is not one.
Audio readWavAudio(const std::string& path);

/// How the audio goes on air.
struct FmSettings {
    double hzPerUnit = 0.0;   ///< instantaneous frequency per audio unit
    double channelHz = 0.0;   ///< the channel's offset from the tuner's centre
    double amplitude = 50.0;  ///< carrier amplitude, 8-bit sample steps
};

/// Writes the carrier that `audio` (at an exact sixth of 288000 samples/s) frequency-modulates
/// as unsigned 8-bit I/Q pairs at 288000 samples/s: each audio sample's frequency holds for the
/// six tuner samples it spans, so the phase between audio samples is interpolated linearly.
void writeFmRecording(const Audio& audio, const FmSettings& settings, std::ostream& out);

}  // namespace keelwave::transmitter
