#pragma once

#include "ais/ais_message.hpp"

#include <cstdint>

namespace keelwave::ais {

// What the classic chain measures a burst with: for each discriminator sample of the last
// 170 ms, the power of the decimated I/Q sample it came from and its own value, and where the
// samples lie in the tuner stream.
//
//   tuner pairs   | p0 p1 p2 p3 p4 p5 | p6 ... p11 |      decimated sample k: the mean of pairs
//   decimated      \_______ z0 ______/ \__ z1 ___/       originPair + 6k .. 6k + 5
//   discriminator              arg(z1 conj(z0)) = d1     sample d_k lies between z_(k-1) and z_k:
//                                                        at pair originPair + 6k - 0.5
//
// The receiver decides each bit from its Gaussian filter's output, 18.5 samples late, about
// the middle of the bit; a burst is placed from the bit that ends its start flag.

/// Discriminator samples the meter keeps: a five-slot burst (133 ms, 6400 samples) with its
/// preamble, as a power of two.
constexpr int32_t burstMeterSamples = 8192;

struct BurstMeter {
    float power[burstMeterSamples] = {};        ///< |z|^2 of the decimated sample, steps^2
    int16_t frequency[burstMeterSamples] = {};  ///< the discriminator sample, 1.4648 Hz units
    int64_t written = 0;                        ///< discriminator samples recorded so far
    int64_t originSample = 0;  ///< the first of them after the last restart of the stream
    int64_t originPair = 0;    ///< the tuner pair where that sample's decimation began
    /// Where the channel's oscillator truly sits against the channel's frequency: its step is
    /// a float, 8 Hz off for both AIS channels.
    double oscillatorErrorHz = 0.0;
};

/// Records one discriminator sample and the power of its decimated sample.
inline void recordSample(BurstMeter& meter, float power, int16_t frequency) {
    const auto slot = static_cast<int32_t>(meter.written & (burstMeterSamples - 1));
    meter.power[slot] = power;
    meter.frequency[slot] = frequency;
    ++meter.written;
}

/// From here on discriminator samples are decimated from tuner pair `firstPair` on.
inline void restartMeter(BurstMeter& meter, int64_t firstPair) {
    meter.originSample = meter.written;
    meter.originPair = firstPair;
}

/// The reception of the burst whose start flag's last bit the receiver took at discriminator
/// sample `flagEndSample` and whose frame ended at `frameEndSample`: the tuner pair where the
/// start flag begins, the mean power over the burst in dB of full scale, and the carrier offset
/// from the training before the flag.
Reception measureBurst(const BurstMeter& meter, int64_t flagEndSample, int64_t frameEndSample);

}  // namespace keelwave::ais
