#pragma once

#include "ais/classic/burst_meter.hpp"
#include "ais/classic/discriminator_decoder.hpp"
#include "base/tuner_stream.hpp"

#include <cstdint>

namespace keelwave::ais {

// One AIS channel out of the tuner's 288000 samples/s I/Q stream, which is centred 25 kHz away
// from each channel:
//
//   I,Q at 288000/s --(x e^-j.phase)--> sum 6 --> x 1/6 --> arg(z[n] . conj(z[n-1])) x 16384/pi
//   oscillator at the      integrate-and-dump       FM discriminator, 48000 samples/s, int16:
//   channel's offset       (decimation by 6)         16384 = a step of pi radians per sample
//
// One output unit is 48000/32768 = 1.46484375 Hz of instantaneous frequency above the channel's
// oscillator. Every step is written in the precision (float or double) and evaluation order
// that the receiver's output depends on; the compiler must not reorder them.

/// Output samples handed to the decoder per call.
constexpr uint32_t discriminatorBlockLength = 4096;  // samples, about 85.3 ms at 48000/s

/// Input samples summed into one output sample: 288000/s down to 48000/s.
constexpr uint32_t decimationFactor = base::channelDecimation;

/// Seconds per input sample: the float nearest to 1/288000, 3.4722223e-6 s.
constexpr float tunerSamplePeriod = 1.0f / static_cast<float>(base::tunerPairsPerSecond);

/// pi and 2 pi in double: the oscillator wraps its phase by comparing and correcting in double.
constexpr double halfTurn = 3.141592653589793;  // radians
constexpr double fullTurn = 6.283185307179586;  // radians

/// The float nearest to 1/6, 0.16666667, scaling an integrated sum back to a mean.
constexpr float inverseDecimationFactor = 1.0f / static_cast<float>(decimationFactor);

/// Radians per output sample to int16 units: 16384/pi, so a step of pi reads 16384.
constexpr double discriminatorScale = 5215.189175235227;

/// Everything one channel carries from sample to sample. None of it is reset at a block
/// boundary, so a stream cut into blocks at any even float count demodulates exactly as one
/// continuous block.
struct DemodulatorState {
    float phase = 0.0f;            ///< oscillator phase, radians, within [-pi, pi]
    float phaseIncrement = 0.0f;   ///< radians per input sample; see `channelPhaseIncrement`
    float accumI = 0.0f;           ///< integrate-and-dump sums, real part
    float accumQ = 0.0f;           ///< and imaginary part
    uint32_t decimationCount = 0;  ///< input samples summed since the last dump, 0..5
    int16_t block[discriminatorBlockLength] = {};  ///< discriminator samples not yet handed on
    uint32_t blockFill = 0;                        ///< entries of `block` filled, 0..4095
    double prevI = 0.0;  ///< previous decimated sample; 0+0j before the first one
    double prevQ = 0.0;
    BurstMeter meter;  ///< each discriminator sample's power and value, for measuring bursts
};

/// The oscillator step for a channel at `frequency` Hz against a tuner centred on
/// `centreFrequency` Hz, radians per input sample. The offset is taken in float, so a channel
/// at 161975000 Hz (161975008 as a float) sits 24992 Hz below the centre: -0.54524088.
float channelPhaseIncrement(int32_t frequency, uint32_t centreFrequency);

/// One oscillator step: advances `phase` by `increment` in float and wraps it back into
/// [-pi, pi] once from each side, comparing and correcting in double.
inline void advanceOscillator(float& phase, float increment) {
    phase = phase + increment;
    if (static_cast<double>(phase) > halfTurn) {
        phase = static_cast<float>(static_cast<double>(phase) - fullTurn);
    }
    if (static_cast<double>(phase) < -halfTurn) {
        phase = static_cast<float>(static_cast<double>(phase) + fullTurn);
    }
}

/// Demodulates `count` floats, I and Q alternating with I first (unsigned tuner byte - 128).
/// An odd last float is ignored. Every time `block` fills, `decoder.process` is given the 4096
/// samples on the calling thread. Allocates nothing.
void demodulateBlock(DemodulatorState& state, const float* samples, uint32_t count,
                     DiscriminatorDecoder& decoder);

/// Hands the partly filled `block` to the decoder (fewer than 4096 samples) and empties it; does
/// nothing when it is empty. Used when the input has ended for good, and before a gap.
void flushBlock(DemodulatorState& state, DiscriminatorDecoder& decoder);

/// After a gap in the input, before the block that begins at tuner pair `firstPair`: hands on
/// what was demodulated before it, lets the decoder drop its frame in progress and starts a new
/// integrate-and-dump period, so that nothing from before the gap is summed or framed with what
/// comes after it.
void restartAfterGap(DemodulatorState& state, DiscriminatorDecoder& decoder, int64_t firstPair);

}  // namespace keelwave::ais
