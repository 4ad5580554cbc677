#include "ais/classic/burst_meter.hpp"

#include "base/tuner_stream.hpp"

#include <algorithm>
#include <cmath>

namespace keelwave::ais {

namespace {

constexpr double samplesPerBit = 5.0;  // 48000 samples/s at 9600 bit/s
/// From the sample at which the receiver takes the flag's last bit back to where the flag
/// begins, in discriminator samples: the Gaussian filter's delay (taps centred on 17.5, one
/// more sample behind), half a bit to the bit's start, seven bits to the flag's first.
constexpr double filterDelaySamples = 18.5;
constexpr double flagStartBack = filterDelaySamples + 0.5 * samplesPerBit + 7 * samplesPerBit;
/// A discriminator sample lies half a pair before the decimation of its own I/Q sample began.
constexpr double discriminatorLagPairs = -0.5;
/// Training bits read for the carrier offset: three whole periods of its level pattern
/// (two bits up, two down), so the deviation averages out exactly; the ramp-up may take the
/// first bits of the training, never these.
constexpr int32_t offsetBits = 12;
constexpr double hertzPerUnit =
    static_cast<double>(base::channelSamplesPerSecond) / 32768.0;  // 16384 = pi per sample
constexpr double fullScalePower = 128.0 * 128.0;  // a carrier of 128 steps on I and Q
constexpr float silentLevelDb = -150.0f;

}  // namespace

Reception measureBurst(const BurstMeter& meter, int64_t flagEndSample, int64_t frameEndSample) {
    Reception reception;
    // The flag's start in discriminator samples: in the receiver's count, then unfiltered.
    const double flagStart = static_cast<double>(flagEndSample) - flagStartBack;
    const auto flagFirst = static_cast<int64_t>(std::lround(flagStart));
    const auto trainingFirst = flagFirst - static_cast<int64_t>(offsetBits * samplesPerBit);
    const auto last = frameEndSample - static_cast<int64_t>(filterDelaySamples);
    const int64_t kept = meter.written - burstMeterSamples;
    if (trainingFirst < std::max(kept, meter.originSample) || last >= meter.written) {
        return reception;  // a burst from before a gap, or longer than any: not measured
    }
    const double pairsPerSample = base::channelDecimation;
    reception.streamPair = static_cast<int64_t>(
        std::llround(static_cast<double>(meter.originPair) +
                     (flagStart - static_cast<double>(meter.originSample)) * pairsPerSample +
                     discriminatorLagPairs));
    double frequency = 0.0;
    double power = 0.0;
    for (int64_t sample = trainingFirst; sample <= last; ++sample) {
        const auto slot = static_cast<int32_t>(sample & (burstMeterSamples - 1));
        frequency += sample < flagFirst ? meter.frequency[slot] : 0;
        power += meter.power[slot];
    }
    const auto samples = static_cast<double>(last - trainingFirst + 1);
    reception.offsetHz = static_cast<float>(
        frequency / static_cast<double>(flagFirst - trainingFirst) * hertzPerUnit +
        meter.oscillatorErrorHz);
    reception.levelDb =
        power > 0.0 ? static_cast<float>(10.0 * std::log10(power / samples / fullScalePower))
                    : silentLevelDb;
    return reception;
}

}  // namespace keelwave::ais
