#include "tools/transmitter/iq_recording.hpp"

#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/burst_schedule.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <ostream>
#include <stdexcept>

namespace keelwave::transmitter {

namespace {

constexpr double channelRate = 48000.0;  // samples/s of one channel's stream in the receiver
constexpr double sampleMidpoint = 128.0;
constexpr double sampleMax = 255.0;
constexpr std::uint64_t phaseNoiseSeedSalt = 0xD1B54A32D192ED03ULL;  // apart from the noise

// Bursts of one channel in time order, and where the renderer stands among them.
struct ChannelTrack {
    double frequencyHz = 0.0;
    double amplitude = 0.0;  // in steps of the 8-bit samples
    std::vector<const RecordedBurst*> bursts;
    std::size_t current = 0;
    double modulationPhase = 0.0;  // radians, of the current burst
    bool begun = false;            // whether modulationPhase has been set for the burst
    double noisePhase = 0.0;       // radians, the oscillator's random walk
};

// Raised-cosine power ramp: 0 outside the burst, 1 between the ramps; the ramp-up begins
// `lateBits` after the first bit.
double envelope(double u, double bitCount, double lateBits) {
    if (u <= lateBits || u >= bitCount) {
        return 0.0;
    }
    if (u < rampUpBits + lateBits) {
        return 0.5 - 0.5 * std::cos(pi * (u - lateBits) / rampUpBits);
    }
    if (u > bitCount - rampDownBits) {
        return 0.5 - 0.5 * std::cos(pi * (bitCount - u) / rampDownBits);
    }
    return 1.0;
}

void renderTrack(ChannelTrack& track, const RecordingSettings& settings, const GmskPulse& pulse,
                 GaussianNoise& phaseNoise, std::int64_t chunkStart,
                 std::vector<std::complex<double>>& chunk) {
    // Bursts are placed in samples at 288000/s and rendered in samples at the recording's rate.
    const double rate = settings.pairsPerSecond;
    const double scale = rate / rawRate;
    const double perBit = rawSamplesPerBit(settings.clockErrorPpm) * scale;
    // Radians one full-deviation bit turns: 2 pi * deviation * bit duration.
    const double radiansPerBit = 2.0 * pi * settings.deviationHz * perBit / rate;
    const double cyclesPerSample = track.frequencyHz / rate;
    // A random walk of the phase with variance 2 pi linewidth per second has that linewidth.
    const double phaseNoiseStep = std::sqrt(2.0 * pi * settings.phaseNoiseHz / rate);
    const auto chunkEnd = chunkStart + static_cast<std::int64_t>(chunk.size());
    while (track.current < track.bursts.size()) {
        const RecordedBurst& burst = *track.bursts[track.current];
        const double startSample = burst.startSample * scale;
        const double bitCount = static_cast<double>(burst.levels.size());
        const auto first = static_cast<std::int64_t>(std::ceil(startSample));
        const auto last = static_cast<std::int64_t>(std::floor(startSample + bitCount * perBit));
        if (first >= chunkEnd) {
            return;
        }
        for (std::int64_t n = std::max(first, chunkStart); n <= std::min(last, chunkEnd - 1); ++n) {
            const double u = (static_cast<double>(n) - startSample) / perBit;
            if (!track.begun) {
                // Everything the pulses turned before the first sample, in one step.
                track.modulationPhase =
                    radiansPerBit *
                    phaseAdvance(pulse, burst.levels, -pulseReachBits(pulse) - 1.0, u);
            } else {
                track.modulationPhase +=
                    radiansPerBit * phaseAdvance(pulse, burst.levels, u - 1.0 / perBit, u);
            }
            track.begun = true;
            const double cycles = cyclesPerSample * static_cast<double>(n);
            const double carrier = 2.0 * pi * (cycles - std::floor(cycles));
            // The drift's frequency rises linearly over the burst: its phase is quadratic.
            const double drift = pi * settings.driftHzPerBurst * u * u * perBit / (bitCount * rate);
            if (phaseNoiseStep > 0.0) {
                track.noisePhase += phaseNoiseStep * nextGaussian(phaseNoise);
            }
            chunk[static_cast<std::size_t>(n - chunkStart)] +=
                std::polar(track.amplitude * envelope(u, bitCount, settings.rampLateBits),
                           carrier + track.modulationPhase + drift + track.noisePhase);
        }
        if (last >= chunkEnd) {
            return;
        }
        ++track.current;
        track.begun = false;
    }
}

}  // namespace

double noisePerComponent(const RecordingSettings& settings) {
    if (std::isinf(settings.snrDb) && settings.snrDb > 0.0) {
        return 0.0;
    }
    const double totalPower = settings.pairsPerSecond / channelRate * settings.amplitude *
                              settings.amplitude / std::pow(10.0, settings.snrDb / 10.0);
    return std::sqrt(totalPower / 2.0);
}

void writeRecording(const std::vector<RecordedBurst>& bursts, std::int64_t totalSamples,
                    const RecordingSettings& settings, const GmskPulse& pulse, std::ostream& out) {
    ChannelTrack tracks[2];
    tracks[0].frequencyHz = -channelOffsetHz + settings.carrierOffsetHz;
    tracks[1].frequencyHz = channelOffsetHz + settings.carrierOffsetHz;
    for (int channel = 0; channel < 2; ++channel) {
        const double own = settings.channelAmplitude[channel];
        tracks[channel].amplitude = own != 0.0 ? own : settings.amplitude;
    }
    for (const RecordedBurst& burst : bursts) {
        if (burst.channel != 'A' && burst.channel != 'B') {
            throw std::invalid_argument("burst channel must be A or B");
        }
        tracks[burst.channel == 'A' ? 0 : 1].bursts.push_back(&burst);
    }
    for (ChannelTrack& track : tracks) {
        std::stable_sort(track.bursts.begin(), track.bursts.end(),
                         [](const RecordedBurst* left, const RecordedBurst* right) {
                             return left->startSample < right->startSample;
                         });
    }

    const double noiseSigma = noisePerComponent(settings);
    GaussianNoise noise = makeGaussianNoise(settings.seed);
    GaussianNoise phaseNoise = makeGaussianNoise(settings.seed ^ phaseNoiseSeedSalt);
    std::vector<std::complex<double>> chunk;
    std::vector<char> bytes;
    const double scale = settings.pairsPerSecond / rawRate;
    const std::int64_t total = std::llround(static_cast<double>(totalSamples) * scale);
    const std::int64_t chunkSamples = std::llround(static_cast<double>(slotSamples) * scale);
    for (std::int64_t chunkStart = 0; chunkStart < total; chunkStart += chunkSamples) {
        const auto length = static_cast<std::size_t>(std::min(chunkSamples, total - chunkStart));
        chunk.assign(length, {0.0, 0.0});
        for (ChannelTrack& track : tracks) {
            renderTrack(track, settings, pulse, phaseNoise, chunkStart, chunk);
        }
        bytes.resize(2 * length);
        for (std::size_t index = 0; index < length; ++index) {
            std::complex<double> sample = chunk[index];
            if (noiseSigma > 0.0) {
                const double inPhase = noiseSigma * nextGaussian(noise);
                sample += std::complex<double>(inPhase, noiseSigma * nextGaussian(noise));
            }
            const auto toByte = [](double value) {
                const double code = std::clamp(sampleMidpoint + std::round(value), 0.0, sampleMax);
                return static_cast<char>(static_cast<unsigned char>(code));
            };
            bytes[2 * index] = toByte(sample.real());
            bytes[2 * index + 1] = toByte(sample.imag());
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

}  // namespace keelwave::transmitter
