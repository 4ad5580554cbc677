#pragma once

#include <cstdint>

// The raw stream every source delivers and every decoding chain reads: the tuner's own, or a
// recording of it made at the same settings (rtl_sdr -f 162000000 -s 288000):
//
//   byte:  I0 Q0 I1 Q1 ...   unsigned 8-bit, 128 standing for 0, I first
//   rate:  288000 I/Q pairs per second, centred on 162000000 Hz
//   AIS channel A 161975000 Hz (25 kHz below the centre), B 162025000 Hz (25 kHz above)
//
// 288000 is 6 x 48000, and 48000 is 5 samples per AIS symbol at 9600 bit/s: a channel taken
// down by 6 reads every bit in 5 samples.

namespace keelwave::base {

constexpr uint32_t tunerCentreHz = 162000000;
constexpr uint32_t tunerPairsPerSecond = 288000;
/// Bytes per USB transfer asked of librtlsdr, and per block a recording is read in: 51200
/// I/Q pairs, about 177.8 ms of signal.
constexpr uint32_t tunerTransferBytes = 102400;
/// Tuner pairs per channel sample after the decimation both chains make.
constexpr uint32_t channelDecimation = 6;
constexpr uint32_t channelSamplesPerSecond = tunerPairsPerSecond / channelDecimation;  // 48000

/// One AIS channel of the stream.
struct AisChannel {
    char letter;         ///< in the sentences: 'A' or 'B'
    uint32_t frequency;  ///< Hz
    int32_t offsetHz;    ///< from the tuner's centre
};
constexpr AisChannel aisChannels[] = {{'A', 161975000, -25000}, {'B', 162025000, +25000}};

/// The value of an unsigned tuner byte: the byte less 128, so -128..127 (exact in float).
inline float sampleValue(uint8_t byte) {
    constexpr float byteMidpoint = 128.0f;
    return static_cast<float>(byte) - byteMidpoint;
}

}  // namespace keelwave::base
