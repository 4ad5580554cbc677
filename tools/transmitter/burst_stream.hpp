#pragma once

#include "tools/transmitter/discriminator_signal.hpp"
#include "tools/transmitter/gmsk_pulse.hpp"

#include <cstdint>
#include <vector>

namespace keelwave::transmitter {

/// Discriminator samples in one AIS slot: 26.666... ms at 48000 samples/s.
constexpr std::int64_t slotDiscriminatorSamples = 1280;

/// How a run of bursts on one channel reaches the discriminator.
struct StreamSettings {
    double deviationHz = aisDeviationHz;
    double clockErrorPpm = 0.0;  ///< transmitter bit clock, as in DiscriminatorSettings
    /// Additive white Gaussian noise over the whole stream, bursts and gaps alike, in
    /// discriminator units.
    double noiseRms = 0.0;
    /// Carrier frequency error: while a burst's carrier is on, every sample turns this much
    /// further, as a transmitter or tuner off frequency makes it.
    double carrierOffsetHz = 0.0;
    /// Burst i begins firstOffsetSamples + i * offsetStepSamples (modulo one bit) after its
    /// slot boundary, so that successive bursts can meet the receiver's bit clock at different
    /// phases.
    double firstOffsetSamples = 0.0;
    double offsetStepSamples = 0.0;
    std::int64_t leadSlots = 1;   ///< empty slots before the first burst
    std::int64_t trailSlots = 1;  ///< empty slots after the last, to flush the receive filter
    std::uint64_t seed = 1;       ///< of the noise
};

/// A channel's discriminator output carrying one burst per message, in message order.
struct BurstStream {
    std::vector<std::int16_t> samples;
    std::vector<double> burstStarts;  ///< sample where each burst's first bit begins
};

/// Noise RMS in discriminator units for a signal-to-noise ratio in dB, taken as the peak
/// deviation over the noise's standard deviation, both in discriminator units:
/// SNR = 20 log10(deviation / noiseRms).
double noiseRmsForSnr(double snrDb, double deviationHz = aisDeviationHz);

/// Sends each message as a complete burst (framing, NRZI, GMSK) in the next free slots of one
/// channel, a slot per burst or more for a long one, with nothing but noise in between.
BurstStream renderBurstStream(const GmskPulse& pulse, const std::vector<Bits>& messages,
                              const StreamSettings& settings);

}  // namespace keelwave::transmitter
