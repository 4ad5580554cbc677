#include "ais/sensitive/sensitive_chain.hpp"
#include "ais/sensitive/wide_vectors.hpp"
#include "tests/ais/sensitive/chain_recording.hpp"
#include "tests/support/corpus.hpp"
#include "tools/transmitter/nmea_input.hpp"
#include "tools/transmitter/reception_score.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>

namespace keelwave::ais::test {
namespace {

using transmitter::Bits;
using transmitter::RecordingSettings;
using Printed = std::map<char, std::vector<std::string>>;

constexpr std::size_t tunerBlockFloats = 102400;  // one transfer of the tuner
constexpr std::size_t corpusShare = 40;           // messages of every type, ~0.6 s on air
constexpr double carrierSteps = 20.0;             // amplitude in 8-bit steps
// The transmitter model's noise figure is over 48 kHz; these tests speak of 25 kHz.
const double bandCorrectionDb = 10.0 * std::log10(48000.0 / 25000.0);

RecordingSettings at(double snr25Db, double carrierHz = 0.0, double clockPpm = 0.0) {
    RecordingSettings settings;
    settings.amplitude = carrierSteps;
    settings.snrDb = snr25Db - bandCorrectionDb;
    settings.carrierOffsetHz = carrierHz;
    settings.clockErrorPpm = clockPpm;
    return settings;
}

// A transmitter that is not ideal: its peak deviation, drift over a burst, late power ramp.
RecordingSettings sent(double snr25Db, double deviationHz, double driftHz = 0.0,
                       double rampLateBits = 0.0) {
    RecordingSettings settings = at(snr25Db);
    settings.deviationHz = deviationHz;
    settings.driftHzPerBurst = driftHz;
    settings.rampLateBits = rampLateBits;
    return settings;
}

// An unmodulated carrier of `amplitude` steps on channel A, `pairs` tuner samples of it.
std::vector<float> carrierOnA(double amplitude, std::size_t pairs) {
    std::vector<float> samples;
    for (std::size_t n = 0; n < pairs; ++n) {
        const double phase = -2.0 * 3.14159265358979 * 25000.0 * static_cast<double>(n) / 288000.0;
        samples.push_back(static_cast<float>(std::round(amplitude * std::cos(phase))));
        samples.push_back(static_cast<float>(std::round(amplitude * std::sin(phase))));
    }
    return samples;
}

TEST(SensitiveChain, PrintsExactlyTheSentencesSent) {
    const std::vector<Bits> messages = corpusMessages(corpusShare);
    struct Case {
        const char* name;
        RecordingSettings settings;
        bool trainingFromOne;
        double bandwidthTime;
    };
    const Case cases[] = {
        {"8 dB", at(8.0), false, 0.4},
        {"20 dB, carrier 4 kHz high", at(20.0, 4000.0), false, 0.4},
        {"20 dB, carrier 4 kHz low", at(20.0, -4000.0), false, 0.4},
        {"12 dB, carrier 1 kHz low, clock 100 ppm fast", at(12.0, -1000.0, -100.0), false, 0.4},
        {"12 dB, clock 100 ppm slow", at(12.0, 0.0, 100.0), false, 0.4},
        {"8 dB, training alternating from 1", at(8.0), true, 0.4},
        // Transmitters as type approval lets them be: the modulation index 0.40 and 0.60, the
        // pulse's BT 0.3 and 0.5, a drift that would leave a fixed loop 0.8 radians behind,
        // a power ramp that takes a third of the training.
        {"10 dB, deviation 1920 Hz", sent(10.0, 1920.0), false, 0.4},
        {"10 dB, deviation 2880 Hz, training alternating from 1", sent(10.0, 2880.0), true, 0.4},
        {"10 dB, pulse BT 0.3", at(10.0), false, 0.3},
        {"10 dB, pulse BT 0.5", at(10.0), false, 0.5},
        {"10 dB, carrier drifting 300 Hz over each burst", sent(10.0, 2400.0, 300.0), false, 0.4},
        {"10 dB, drifting 300 Hz down, deviation 2040 Hz", sent(10.0, 2040.0, -300.0), false, 0.4},
        {"10 dB, the ramp eating 8 training bits", sent(10.0, 2400.0, 0.0, 8.0), false, 0.4},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const ChainInput input =
            render(messages, test.settings, 0, test.trainingFromOne, test.bandwidthTime);
        const Printed printed = decode(input.samples, tunerBlockFloats);
        EXPECT_EQ(printed.at('A'), input.expected.at('A'));
        EXPECT_EQ(printed.at('B'), input.expected.at('B'));
    }
}

TEST(SensitiveChain, ReadsTheRealLongBeachRecording) {
    // Its first 0.75 s: two bursts whose training alternates from 1 and one from 0, all three
    // through the scanner's audio path. Listed are the messages an independent receiver found.
    const std::string listed =
        "15MwlV0P00GRUEdCD@0p4OvT0<11"
        "34`ecn1000GRol0CCkk<DofR0000"
        "55Mw>bP00001L<C;7O4h58<tp62222222222220P1H?624SosFS<4p0CQiC1Dp888888888";
    std::string payloads;  // of the sentences in their order, fragments joined
    const Printed printed = decode(longBeachOnCarrier(0.75), tunerBlockFloats);
    for (const std::string& sentence : printed.at('A')) {
        payloads += transmitter::parseNmeaSentence(sentence).payload;
    }
    EXPECT_EQ(payloads, listed);
}

TEST(SensitiveChain, BlocksCutAnywhereAndTheBaselineLoopsDecodeAlike) {
    const ChainInput input = render(corpusMessages(corpusShare / 2), at(6.0));
    const Printed whole = decode(input.samples, input.samples.size());
    ASSERT_FALSE(whole.at('A').empty());
    for (const std::size_t block :
         {std::size_t{2}, std::size_t{6}, std::size_t{998}, std::size_t{8194}, tunerBlockFloats}) {
        SCOPED_TRACE(block);
        EXPECT_EQ(decode(input.samples, block), whole);
    }
    allowWideVectors(false);  // the only loops of a processor without AVX2
    EXPECT_EQ(decode(input.samples, tunerBlockFloats), whole);
    allowWideVectors(true);
}

TEST(SensitiveChain, NearTheNoisePrintsEachMessageAtMostOnce) {
    // At 2 dB bursts are found through several preamble matches, readings and symbols turned
    // over; each message must still come out at most once, and nothing else.
    const std::vector<Bits> messages = corpusMessages(corpusShare);
    const ChainInput input = render(messages, at(2.0));
    ChainCounts counts[2];
    Printed printed = decode(input.samples, tunerBlockFloats, counts);
    for (int c = 0; c < 2; ++c) {
        const char channel = c == 0 ? 'A' : 'B';
        SCOPED_TRACE(channel);
        std::vector<Bits> sent;
        for (std::size_t i = c; i < messages.size(); i += 2) {
            sent.push_back(messages[i]);
        }
        const transmitter::ReceptionScore score =
            transmitter::scoreReception(sent, channel, printed[channel]);
        EXPECT_TRUE(score.strays.empty());
        EXPECT_GT(score.printed, 0u);
        EXPECT_GT(counts[c].turnedOver, 0);
        EXPECT_EQ(counts[c].printed, static_cast<int64_t>(score.printed));
    }
}

TEST(SensitiveChain, PrintsARepeatedMessageEachTime) {
    const Bits message = corpusMessages(1).front();
    const ChainInput input = render({message, message, message}, at(12.0), 'A');
    ASSERT_EQ(input.expected.at('A').size(), 3u);
    EXPECT_EQ(decode(input.samples, tunerBlockFloats).at('A'), input.expected.at('A'));
}

TEST(SensitiveChain, PrintsNothingForInputWithoutMessagesOrWithImpossibleOnes) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 38.0f);  // the noise of a 2 dB recording
    std::uniform_int_distribution<int> anyByte(0, 255);
    const std::size_t floats = 2 * 2 * 288000;  // two seconds
    struct Case {
        const char* name;
        std::vector<float> samples;
    };
    const std::vector<Bits> invalid = keelwave::test::realMessages("real-aivdm-invalid-type.nmea");
    std::vector<Case> cases = {
        {"gaussian noise", {}},
        {"silence", std::vector<float>(floats, 0.0f)},
        {"random bytes", {}},
        {"carrier on channel A", carrierOnA(100.0, floats / 2)},
        {"real messages of impossible types", render(invalid, at(20.0)).samples}};
    for (std::size_t i = 0; i < floats; ++i) {
        cases[0].samples.push_back(std::round(noise(random)));
        cases[2].samples.push_back(static_cast<float>(anyByte(random) - 128));
    }
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const Printed printed = decode(test.samples, tunerBlockFloats);
        EXPECT_TRUE(printed.at('A').empty());
        EXPECT_TRUE(printed.at('B').empty());
    }
}

TEST(SensitiveChain, ReportsTheChannelsPowerWhenVerbose) {
    // A carrier of 64 steps on channel A: a quarter of full scale in power, -6 dBFS; channel B
    // lies 50 kHz from it, in the filter's stopband.
    const std::vector<float> samples = carrierOnA(64.0, 288000 / 10);
    std::vector<std::pair<int, float>> reports;
    const auto keep = [](void* context, int channel, float level, float) {
        static_cast<std::vector<std::pair<int, float>>*>(context)->emplace_back(channel, level);
    };
    for (const auto& [channel, offsetHz, verbose] :
         {std::tuple{'A', -25000.0, true}, {'B', 25000.0, true}, {'A', -25000.0, false}}) {
        SensitiveChain chain(channel, offsetHz, verbose, MessageSink{}, keep, &reports);
        chain.processBlock({samples.data(), static_cast<uint32_t>(samples.size())});
    }
    ASSERT_EQ(reports.size(), 2u);  // one in the first second, none when not verbose
    EXPECT_EQ(reports[0].first, 'A');
    EXPECT_NEAR(reports[0].second, -6.05f, 0.25f);
    EXPECT_EQ(reports[1].first, 'B');
    EXPECT_LT(reports[1].second, -55.0f);
}

}  // namespace
}  // namespace keelwave::ais::test
