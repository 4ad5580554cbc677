#include "tools/transmitter/iq_recording.hpp"

#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/burst_schedule.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>

using namespace transmitter;

namespace {

using Samples = std::vector<std::complex<double>>;

Samples record(const std::vector<RecordedBurst>& bursts, std::int64_t totalSamples,
               const RecordingSettings& settings = {}) {
    std::ostringstream out;
    writeRecording(bursts, totalSamples, settings, makeGmskPulse(), out);
    const std::string bytes = out.str();
    EXPECT_EQ(bytes.size(), static_cast<std::size_t>(2 * totalSamples));
    Samples samples;
    for (std::size_t index = 0; index + 1 < bytes.size(); index += 2) {
        samples.emplace_back(static_cast<unsigned char>(bytes[index]) - 128.0,
                             static_cast<unsigned char>(bytes[index + 1]) - 128.0);
    }
    return samples;
}

// Mixes the samples down by `frequencyHz` and sums them in sixes, as the receiver's channel
// stage does: complex samples at 48000/s of whatever lay near that frequency.
Samples channelStream(const Samples& samples, double frequencyHz) {
    Samples out;
    std::complex<double> sum;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        sum += samples[n] * std::polar(1.0, -2.0 * M_PI * frequencyHz * n / 288000.0);
        if (n % 6 == 5) {
            out.push_back(sum / 6.0);
            sum = 0.0;
        }
    }
    return out;
}

// Power near `frequencyHz`: the samples mixed down and taken 60 at a time (about 5 kHz
// either side) through a Hann window, whose side lobes are far down 50 kHz away.
double bandPower(const Samples& samples, double frequencyHz, std::size_t from, std::size_t to) {
    constexpr std::size_t kWindow = 60;
    double sum = 0.0;
    std::size_t blocks = 0;
    for (std::size_t first = from; first + kWindow <= to; first += kWindow, ++blocks) {
        std::complex<double> value;
        double weights = 0.0;
        for (std::size_t k = 0; k < kWindow; ++k) {
            const double weight = 0.5 - 0.5 * std::cos(2.0 * M_PI * (k + 0.5) / kWindow);
            const double n = static_cast<double>(first + k);
            value += weight * samples[first + k] *
                     std::polar(1.0, -2.0 * M_PI * frequencyHz * n / 288000.0);
            weights += weight;
        }
        sum += std::norm(value / weights);
    }
    return sum / static_cast<double>(blocks);
}

double power(const Samples& samples, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (std::size_t n = from; n < to; ++n) {
        sum += std::norm(samples[n]);
    }
    return sum / static_cast<double>(to - from);
}

// Mean frequency in Hz over [from, to) of a 48000/s stream, from its phase steps.
double meanFrequency(const Samples& stream, std::size_t from, std::size_t to) {
    double turned = 0.0;
    for (std::size_t n = from + 1; n < to; ++n) {
        turned += std::arg(stream[n] * std::conj(stream[n - 1]));
    }
    return turned / (2.0 * M_PI) * 48000.0 / static_cast<double>(to - from - 1);
}

RecordedBurst burstOn(char channel, const Bits& levels, double start) {
    return RecordedBurst{levels, channel, start};
}

}  // namespace

TEST(IqRecording, PutsEachChannelsEnergyOnItsOwnSide) {
    const Bits levels = nrziEncode(burstBits(Bits(168, 1)));
    for (const char channel : {'A', 'B'}) {
        const Samples samples = record({burstOn(channel, levels, 100.0)}, 2 * kSlotSamples);
        const double own = channel == 'A' ? -25000.0 : 25000.0;
        const double onOwn = bandPower(samples, own, 600, 7200);
        const double onOther = bandPower(samples, -own, 600, 7200);
        EXPECT_GT(onOwn, 0.6 * 50.0 * 50.0) << channel;  // the window takes some of +-2400 Hz
        EXPECT_GT(10.0 * std::log10(onOwn / onOther), 40.0) << channel;
    }
}

TEST(IqRecording, SteadyLevelsSitAtTheDeviationPlusTheCarrierOffset) {
    // 200 bits of level 1 then 200 of level 0; the second burst crosses a 7680-sample block.
    Bits levels(200, 1);
    levels.insert(levels.end(), 200, 0);
    RecordingSettings settings;
    settings.carrierOffsetHz = 1000.0;
    settings.amplitude = 100.0;
    const Samples samples = record({burstOn('A', levels, 6000.0)}, 3 * kSlotSamples, settings);
    const Samples stream = channelStream(samples, -25000.0);
    // Bits 20..180 lie at 48000/s samples 1000 + 5 * bit.
    EXPECT_NEAR(meanFrequency(stream, 1100, 1900), 3400.0, 5.0);
    EXPECT_NEAR(meanFrequency(stream, 2100, 2900), -1400.0, 5.0);
    // No phase jump anywhere past the power ramps, the block edge at 7680 included.
    for (std::size_t n = 1020; n < 2985; ++n) {
        const double step = std::arg(stream[n] * std::conj(stream[n - 1]));
        ASSERT_LT(std::fabs(step), 2.0 * M_PI * 3600.0 / 48000.0) << n;
    }
}

TEST(IqRecording, NoiseFollowsTheChannelBandSnrAndTheSeed) {
    RecordingSettings settings;
    settings.snrDb = 10.0;
    settings.amplitude = 40.0;
    const Samples noise = record({}, 288000, settings);
    // Noise power after summing in sixes (48 kHz) is A^2 / SNR: 1600 / 10, plus a little
    // rounding noise.
    const Samples channel = channelStream(noise, -25000.0);
    EXPECT_NEAR(power(channel, 0, channel.size()), 160.0, 5.0);
    EXPECT_NEAR(power(noise, 0, noise.size()), 960.0, 20.0);
    EXPECT_EQ(record({}, 5000, settings), record({}, 5000, settings));
    RecordingSettings otherSeed = settings;
    otherSeed.seed = 2;
    EXPECT_NE(record({}, 5000, settings), record({}, 5000, otherSeed));
    EXPECT_EQ(noisePerComponent(RecordingSettings{}), 0.0);
}

TEST(IqRecording, WritesTwoBytesPerSampleForTheWholeDuration) {
    std::ostringstream out;
    writeRecording({burstOn('B', Bits(50, 1), 0.0)}, 3 * kRawRate, RecordingSettings{},
                   makeGmskPulse(), out);
    EXPECT_EQ(out.str().size(), 3u * 576000u);  // 3 s of 288000 I/Q byte pairs
}

TEST(SlotPlan, PlacesBurstsInSlotsPerChannel) {
    SlotPlan plan;
    plan.firstSlotSample = 1000;
    plan.spacingSlots = 2;
    plan.endSample = 1000 + 10 * kSlotSamples;
    // A burst of 240 bits (7200 samples + 60 of pulse tail) fits one slot.
    EXPECT_EQ(placeBurst(plan, 'A', 240, 5.5), 1005.5);
    EXPECT_EQ(placeBurst(plan, 'B', 240, 0.0), 1000.0);  // both channels share the slot
    EXPECT_EQ(placeBurst(plan, 'A', 240, 0.0), 1000.0 + 2 * kSlotSamples);
    // 600 bits need three slots, more than the spacing.
    EXPECT_EQ(placeBurst(plan, 'A', 600, 0.0), 1000.0 + 4 * kSlotSamples);
    EXPECT_EQ(placeBurst(plan, 'A', 240, 0.0), 1000.0 + 7 * kSlotSamples);
    EXPECT_EQ(placeBurst(plan, 'A', 240, 0.0), 1000.0 + 9 * kSlotSamples);  // the last slot
    // Slot 11 would end past the end of the recording: refused, nothing reserved.
    EXPECT_LT(placeBurst(plan, 'A', 240, 0.0), 0.0);
    EXPECT_EQ(plan.nextSlotA, 11);
    EXPECT_EQ(plan.nextSlotB, 2);
    EXPECT_EQ(kSlotsPerMinute * kSlotSamples, 60 * kRawRate);
}

TEST(IqRecording, DemodulatesToTheDiscriminatorModelsSamples) {
    // The receiver's path (mix down, sum in sixes, phase step times 16384 / pi) applied to a
    // recorded burst must give the samples the discriminator model makes for the same burst.
    const Bits levels = nrziEncode(burstBits(Bits(168, 1)));
    RecordingSettings settings;
    settings.amplitude = 100.0;
    settings.clockErrorPpm = 300.0;
    const Samples stream =
        channelStream(record({burstOn('B', levels, 600.0)}, 2 * kSlotSamples, settings), 25000.0);
    // Sample m of the stream turns from raw instant 6m - 3.5 to 6m + 2.5, that is from
    // m - 0.583 to m + 0.417 at 48000/s: the model's sample m if its burst starts 0.417 early.
    DiscriminatorSettings model;
    model.startSample = 600.0 / 6.0 - 2.5 / 6.0;
    model.clockErrorPpm = settings.clockErrorPpm;
    GaussianNoise noNoise = makeGaussianNoise(1);
    const auto expected = discriminatorBurst(makeGmskPulse(), levels, model, noNoise);
    double squaredError = 0.0;
    const std::size_t first = 100 + 5 * kRampUpBits;
    const std::size_t last = 100 + 5 * (levels.size() - kRampDownBits);
    for (std::size_t m = first; m < last; ++m) {
        const double turned = std::arg(stream[m] * std::conj(stream[m - 1])) * 16384.0 / M_PI;
        squaredError += (turned - expected[m]) * (turned - expected[m]);
    }
    EXPECT_LT(std::sqrt(squaredError / static_cast<double>(last - first)), 20.0);
}
