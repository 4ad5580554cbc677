#pragma once

#include "tools/transmitter/burst_schedule.hpp"
#include "tools/transmitter/discriminator_signal.hpp"
#include "tools/transmitter/gmsk_pulse.hpp"

#include <cstdint>
#include <iosfwd>
#include <limits>
#include <vector>

namespace keelwave::transmitter {

/// One burst in a recording.
struct RecordedBurst {
    Bits levels;               ///< NRZI levels, level 1 = deviation upwards
    char channel = 'A';        ///< 'A' (-25 kHz) or 'B' (+25 kHz)
    double startSample = 0.0;  ///< raw sample where the first bit begins
};

/// How the recording sounds.
///
/// SNR: carrier power A^2 over the power of the complex white noise that falls into 48 kHz,
/// the band of one channel's stream after the receiver's decimation by 6 (the per-sample SNR
/// at 48000 samples/s). The noise added at 288000 samples/s therefore has total power
/// 6 A^2 / 10^(SNR / 10): the per-sample SNR of the raw stream is 7.8 dB lower (at another
/// rate R, R / 48000 A^2 / 10^(SNR / 10)).
struct RecordingSettings {
    double amplitude = 50.0;  ///< carrier amplitude, in steps of the 8-bit samples (max 127)
    /// Carrier amplitude of channel A's and of channel B's bursts where not 0 (else
    /// `amplitude`); the noise stays set by `amplitude` and `snrDb`. For a channel far
    /// stronger or weaker than the other.
    double channelAmplitude[2] = {0.0, 0.0};
    double snrDb = std::numeric_limits<double>::infinity();  ///< infinity: no noise
    double carrierOffsetHz = 0.0;                            ///< added to both channel frequencies
    /// Peak frequency deviation of a long run of equal levels, Hz: 2400 makes the modulation
    /// index 2 * 2400 / 9600 = 0.5; transmitters that pass type approval lie some 20 % either
    /// side of it.
    double deviationHz = aisDeviationHz;
    double clockErrorPpm = 0.0;  ///< transmitter bit clock, as in DiscriminatorSettings
    /// Carrier frequency change over each burst, Hz: an oscillator warming up while it sends.
    /// The carrier starts on its frequency and ends this much higher, linearly in time.
    double driftHzPerBurst = 0.0;
    /// Bits of the training that the power ramp-up eats: the carrier stays off this many bits
    /// longer, then rises over the usual ramp, reaching full power this far into the training.
    double rampLateBits = 0.0;
    /// Phase noise of the transmitter's oscillator: a random walk of the carrier's phase whose
    /// spectrum has this 3 dB linewidth, Hz (0: none).
    double phaseNoiseHz = 0.0;
    std::uint64_t seed = 1;
    /// The rate the recording is rendered at, I/Q pairs per second: bursts, their timing and
    /// the noise in 48 kHz stay as at 288000, so a receiver that takes it down to 288000
    /// should hear what it hears in the recording made at that rate.
    double pairsPerSecond = static_cast<double>(rawRate);
};

/// Standard deviation of each of I and Q of the noise for `settings` (0 without noise).
double noisePerComponent(const RecordingSettings& settings);

/// Writes `totalSamples` (counted at 288000 per second; as many more as `pairsPerSecond` asks)
/// I/Q pairs as unsigned 8-bit bytes, I first, value 128 + round(x) clipped to 0..255. Each
/// burst is a phase-continuous GMSK carrier of `pulse` on its channel whose amplitude rises
/// over the ramp-up bits (later by settings.rampLateBits) and falls over the ramp-down bits.
/// Works through the recording a slot at a time, so memory does not grow with its length.
void writeRecording(const std::vector<RecordedBurst>& bursts, std::int64_t totalSamples,
                    const RecordingSettings& settings, const GmskPulse& pulse, std::ostream& out);

}  // namespace keelwave::transmitter
