// What could hide a fault in the transmitter model itself, which every round trip trusts: its
// sentences against real ones, the deviation of its modulator, which the receiver's gain
// control would make up for, and the ways its transmitters may be less than ideal, which the
// sensitive chain's measurements rest on.
#include "tests/support/corpus.hpp"
#include "tools/transmitter/burst_schedule.hpp"
#include "tools/transmitter/discriminator_signal.hpp"
#include "tools/transmitter/iq_recording.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <sstream>

namespace keelwave::test {
namespace {

namespace tx = keelwave::transmitter;

TEST(TransmitterModel, WritesRealSentencesBackCharacterForCharacter) {
    std::ifstream file(PROJECT_DIR "/tests/data/real-aivdm-sample.nmea");
    std::size_t compared = 0;
    for (std::string line; std::getline(file, line);) {
        const tx::NmeaSentence sentence = tx::parseNmeaSentence(line);
        const tx::Bits bits = tx::dearmourPayload(sentence.payload, sentence.fillBits);
        // Only sentences a receiver prints as they were received: one fragment, whole bytes.
        if (line.rfind("!AIVDM,1,1,,", 0) != 0 || bits.size() % 8 != 0) {
            continue;
        }
        tx::SequenceCounters counters;
        EXPECT_THAT(tx::expectedSentences(bits, sentence.channel, counters),
                    testing::ElementsAre(line));
        ++compared;
    }
    EXPECT_GT(compared, 150u);
}

TEST(TransmitterModel, ALongRunOfOnesDeviatesByTheFullAisDeviation) {
    tx::GaussianNoise noise = tx::makeGaussianNoise(1);
    const tx::Bits levels(100, 1);
    const auto samples = tx::discriminatorBurst(aisPulse(), levels, {}, noise);
    ASSERT_GT(samples.size(), 400u);
    for (std::size_t n = 100; n < 400; ++n) {
        EXPECT_NEAR(samples[n], 2400.0 / 1.46484375, 1.0) << n;
    }
}

// One burst of `bits` equal levels (the carrier deviated upwards throughout) on channel A,
// its raw samples turned down by the channel's offset.
constexpr std::size_t burstBits = 200;
constexpr double steps = 100.0;  // carrier amplitude, 8-bit steps
constexpr double samplesPerBit = 30.0;

std::vector<std::complex<double>> steadyBurst(const tx::RecordingSettings& settings) {
    const std::vector<tx::RecordedBurst> bursts = {{tx::Bits(burstBits, 1), 'A', 0.0}};
    std::ostringstream out;
    tx::writeRecording(bursts, static_cast<std::int64_t>(burstBits * samplesPerBit), settings,
                       aisPulse(), out);
    const std::string bytes = out.str();
    std::vector<std::complex<double>> samples;
    for (std::size_t n = 0; n + 1 < bytes.size(); n += 2) {
        const double phase = 2.0 * tx::pi * tx::channelOffsetHz * static_cast<double>(n / 2) /
                             static_cast<double>(tx::rawRate);
        samples.emplace_back(
            std::complex<double>(static_cast<unsigned char>(bytes[n]) - 128.0,
                                 static_cast<unsigned char>(bytes[n + 1]) - 128.0) *
            std::polar(1.0, phase));
    }
    return samples;
}

// Mean frequency (Hz) and amplitude (steps) over bits `from` to `to`.
std::pair<double, double> measure(const std::vector<std::complex<double>>& samples, double from,
                                  double to) {
    std::complex<double> turns;
    double amplitude = 0.0;
    const auto first = static_cast<std::size_t>(from * samplesPerBit);
    const auto last = static_cast<std::size_t>(to * samplesPerBit);
    for (std::size_t n = first; n < last; ++n) {
        turns += samples[n] * std::conj(samples[n - 1]);
        amplitude += std::abs(samples[n]);
    }
    const double count = static_cast<double>(last - first);
    return {std::arg(turns) * static_cast<double>(tx::rawRate) / (2.0 * tx::pi), amplitude / count};
}

TEST(TransmitterModel, SendsAsAnImperfectTransmitterIsSet) {
    struct Case {
        const char* name;
        double deviationHz;
        double driftHz;
        double rampLateBits;
        double firstHz;  // mean frequency over bits 20..40, and over 160..180
        double lastHz;
        double silentUntilBit;  // the carrier is off until then, and full 8 bits later
    };
    const Case cases[] = {
        {"ideal", 2400.0, 0.0, 0.0, 2400.0, 2400.0, 0.0},
        {"deviation 20 % low", 1920.0, 0.0, 0.0, 1920.0, 1920.0, 0.0},
        {"deviation 20 % high", 2880.0, 0.0, 0.0, 2880.0, 2880.0, 0.0},
        // 300 Hz over the 200 bits: 30 Hz at bit 20..40, 255 Hz at bit 160..180.
        {"drifting up", 2400.0, 300.0, 0.0, 2445.0, 2655.0, 0.0},
        {"drifting down", 2400.0, -300.0, 0.0, 2355.0, 2145.0, 0.0},
        {"ramp 8 bits late", 2400.0, 0.0, 8.0, 2400.0, 2400.0, 8.0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        tx::RecordingSettings settings;
        settings.amplitude = steps;
        settings.deviationHz = test.deviationHz;
        settings.driftHzPerBurst = test.driftHz;
        settings.rampLateBits = test.rampLateBits;
        const auto samples = steadyBurst(settings);
        EXPECT_NEAR(measure(samples, 20.0, 40.0).first, test.firstHz, 15.0);
        EXPECT_NEAR(measure(samples, 160.0, 180.0).first, test.lastHz, 15.0);
        if (test.silentUntilBit > 0.0) {
            EXPECT_LT(measure(samples, 0.1, test.silentUntilBit).second, 1.0);
        }
        EXPECT_NEAR(measure(samples, test.silentUntilBit + tx::rampUpBits, 40.0).second, steps,
                    1.0);
    }
}

TEST(TransmitterModel, PhaseNoiseWalksByItsLinewidth) {
    // A random walk of the phase of linewidth L turns it by 2 pi L / 288000 radians squared
    // per sample, on top of what the ideal burst does.
    tx::RecordingSettings settings;
    settings.amplitude = steps;
    const auto ideal = steadyBurst(settings);
    constexpr double linewidthHz = 1000.0;
    settings.phaseNoiseHz = linewidthHz;
    const auto noisy = steadyBurst(settings);
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t n = 100; n < noisy.size(); ++n) {
        const double step = std::arg(noisy[n] * std::conj(ideal[n]) *
                                     std::conj(noisy[n - 1] * std::conj(ideal[n - 1])));
        sum += step * step;
        ++count;
    }
    const double expected = 2.0 * tx::pi * linewidthHz / static_cast<double>(tx::rawRate);
    EXPECT_NEAR(sum / static_cast<double>(count), expected, 0.1 * expected);
}

}  // namespace
}  // namespace keelwave::test
