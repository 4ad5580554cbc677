#include "ais/sensitive/sensitive_chain.hpp"
#include "tests/ais/sensitive/chain_recording.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/nmea_input.hpp"
#include "tools/transmitter/reception_score.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

namespace keelwave::ais::testing {
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

// I and Q swapped: the spectrum mirrored, so channel A's bursts lie on B with their levels
// the other way round (as a tuner with its outputs crossed delivers them).
std::vector<float> mirrored(std::vector<float> samples) {
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
        std::swap(samples[i], samples[i + 1]);
    }
    return samples;
}

// The sentence as printed for another channel.
std::string onChannel(const std::string& sentence, char channel) {
    constexpr int channelField = 4;  // AIVDM,count,number,id,channel,...
    std::string body = sentence.substr(1, sentence.find('*') - 1);
    std::size_t at = 0;
    for (int field = 0; field < channelField; ++field) {
        at = body.find(',', at) + 1;
    }
    body[at] = channel;
    return transmitter::withChecksum(body);
}

TEST(SensitiveChain, PrintsExactlyTheSentencesSent) {
    const std::vector<Bits> messages = corpusMessages(corpusShare);
    struct Case {
        const char* name;
        RecordingSettings settings;
        bool mirror;
        bool trainingFromOne;
    };
    const Case cases[] = {
        {"8 dB", at(8.0), false, false},
        {"20 dB, carrier 4 kHz high", at(20.0, 4000.0), false, false},
        {"20 dB, carrier 4 kHz low", at(20.0, -4000.0), false, false},
        {"12 dB, carrier 1 kHz low, clock 100 ppm fast", at(12.0, -1000.0, -100.0), false, false},
        {"12 dB, clock 100 ppm slow", at(12.0, 0.0, 100.0), false, false},
        {"20 dB, levels reversed (I and Q crossed)", at(20.0, 300.0), true, false},
        {"8 dB, training alternating from 1", at(8.0), false, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ChainInput input = render(messages, test.settings, 0, test.trainingFromOne);
        if (test.mirror) {
            input.samples = mirrored(input.samples);
            std::swap(input.expected['A'], input.expected['B']);
            for (auto& [channel, sentences] : input.expected) {
                for (std::string& sentence : sentences) {
                    sentence = onChannel(sentence, channel);
                }
            }
        }
        const Printed printed = decode(input.samples, tunerBlockFloats);
        EXPECT_EQ(printed.at('A'), input.expected['A']);
        EXPECT_EQ(printed.at('B'), input.expected['B']);
    }
}

TEST(SensitiveChain, ReadsDiscriminatorAudioWhoseLowFrequenciesWereBlocked) {
    // A coupling capacitor ahead of the audio makes the carrier's frequency wander with the
    // data by hundreds of Hz within a burst: too fast for the phase to be followed.
    const std::vector<Bits> messages = corpusMessages(corpusShare / 2);
    for (const double highPassHz : {0.0, 50.0}) {
        SCOPED_TRACE(highPassHz);
        const ChainInput input = renderThroughAudio(messages, highPassHz);
        EXPECT_EQ(decode(input.samples, tunerBlockFloats).at('A'), input.expected.at('A'));
    }
}

TEST(SensitiveChain, ReadsTheRealLongBeachRecording) {
    // Its first 0.75 s: two bursts whose training alternates from 1 and one from 0, all three
    // through the scanner's audio path. Listed are the messages an independent receiver found.
    const std::vector<std::string> listed = {
        "15MwlV0P00GRUEdCD@0p4OvT0<11", "34`ecn1000GRol0CCkk<DofR0000",
        "55Mw>bP00001L<C;7O4h58<tp62222222222220P1H?624SosFS<4p0CQiC1Dp888888888"};
    const Printed printed = decode(longBeachOnCarrier(0.75), tunerBlockFloats);
    // Each message's payload, its fragments joined.
    std::vector<std::string> messages;
    for (const std::string& sentence : printed.at('A')) {
        std::vector<std::string> fields;
        std::stringstream stream(sentence);
        for (std::string field; std::getline(stream, field, ',');) {
            fields.push_back(field);
        }
        if (fields[2] == "1") {
            messages.emplace_back();
        }
        messages.back() += fields[5];
    }
    EXPECT_EQ(messages, listed);
}

TEST(SensitiveChain, BlocksCutAnywhereDecodeAlike) {
    const ChainInput input = render(corpusMessages(corpusShare / 2), at(6.0));
    const Printed whole = decode(input.samples, input.samples.size());
    ASSERT_FALSE(whole.at('A').empty());
    for (const std::size_t block :
         {std::size_t{2}, std::size_t{6}, std::size_t{998}, std::size_t{8194}, tunerBlockFloats}) {
        SCOPED_TRACE(block);
        EXPECT_EQ(decode(input.samples, block), whole);
    }
}

TEST(SensitiveChain, NearTheNoisePrintsEachMessageAtMostOnce) {
    // At 2 dB bursts are found through several preamble matches, readings and symbols turned
    // over; each message must still come out at most once, and nothing else.
    const std::vector<Bits> messages = corpusMessages(corpusShare);
    const ChainInput input = render(messages, at(2.0));
    Printed printed;
    std::unique_ptr<SensitiveChain> chains[2];
    const char letters[2] = {'A', 'B'};
    for (int c = 0; c < 2; ++c) {
        chains[c] = std::make_unique<SensitiveChain>(
            letters[c], c == 0 ? -25000.0 : 25000.0, false,
            SentenceSink{[](void* context, const char* sentence) {
                             static_cast<std::vector<std::string>*>(context)->emplace_back(
                                 sentence);
                         },
                         &printed[letters[c]]},
            nullptr, nullptr);
        chains[c]->processBlock(input.samples.data(), static_cast<uint32_t>(input.samples.size()));
        chains[c]->finish();
    }
    for (const char channel : letters) {
        SCOPED_TRACE(channel);
        std::vector<Bits> sent;
        for (std::size_t i = channel == 'A' ? 0 : 1; i < messages.size(); i += 2) {
            sent.push_back(messages[i]);
        }
        const transmitter::ReceptionScore score =
            transmitter::scoreReception(sent, channel, printed[channel]);
        EXPECT_TRUE(score.strays.empty());
        EXPECT_GT(score.printed, 0u);
        const ChainCounts counts = chains[channel == 'A' ? 0 : 1]->counts();
        EXPECT_GT(counts.turnedOver, 0);
        EXPECT_EQ(counts.printed, static_cast<int64_t>(score.printed));
    }
}

TEST(SensitiveChain, PrintsARepeatedMessageEachTime) {
    const Bits message = corpusMessages(1).front();
    const ChainInput input = render({message, message, message}, at(12.0), 'A');
    ASSERT_EQ(input.expected.at('A').size(), 3u);
    EXPECT_EQ(decode(input.samples, tunerBlockFloats).at('A'), input.expected.at('A'));
}

TEST(SensitiveChain, PrintsNothingForInputWithoutMessages) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 38.0f);  // the noise of a 2 dB recording
    std::uniform_int_distribution<int> anyByte(0, 255);
    constexpr std::size_t seconds = 2;
    const std::size_t floats = seconds * 2 * 288000;
    struct Case {
        const char* name;
        std::vector<float> samples;
    };
    std::vector<Case> cases = {{"gaussian noise", {}},
                               {"silence", std::vector<float>(floats, 0.0f)},
                               {"random bytes", {}},
                               {"carrier on channel A", {}}};
    for (std::size_t i = 0; i < floats; ++i) {
        cases[0].samples.push_back(std::round(noise(random)));
        cases[2].samples.push_back(static_cast<float>(anyByte(random) - 128));
        const double phase =
            -2.0 * 3.14159265358979 * 25000.0 * static_cast<double>(i / 2) / 288000.0;
        cases[3].samples.push_back(std::round(
            100.0f * static_cast<float>(i % 2 == 0 ? std::cos(phase) : std::sin(phase))));
    }
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const Printed printed = decode(test.samples, tunerBlockFloats);
        EXPECT_TRUE(printed.at('A').empty());
        EXPECT_TRUE(printed.at('B').empty());
    }
}

TEST(SensitiveChain, PrintsNoneOfTheRealInvalidTypes) {
    std::ifstream file(TEST_DATA_DIR "/real-aivdm-invalid-type.nmea");
    std::vector<Bits> messages;
    for (const transmitter::AisMessage& message : transmitter::readNmeaMessages(file).messages) {
        messages.push_back(message.bits);
    }
    ASSERT_FALSE(messages.empty());
    const ChainInput input = render(messages, at(20.0));
    EXPECT_TRUE(decode(input.samples, tunerBlockFloats).at('A').empty());
    EXPECT_TRUE(decode(input.samples, tunerBlockFloats).at('B').empty());
}

struct Report {
    int calls = 0;
    int channel = 0;
    float level = 0.0f;
};

TEST(SensitiveChain, ReportsTheChannelsPowerWhenVerbose) {
    // A carrier of 64 steps on channel A: a quarter of full scale in power, -6 dBFS.
    std::vector<float> samples;
    for (std::size_t n = 0; n < 288000 / 10; ++n) {
        const double phase = -2.0 * 3.14159265358979 * 25000.0 * static_cast<double>(n) / 288000.0;
        samples.push_back(static_cast<float>(64.0 * std::cos(phase)));
        samples.push_back(static_cast<float>(64.0 * std::sin(phase)));
    }
    struct Case {
        char channel;
        double offsetHz;
        bool verbose;
        int calls;
        float lowest;
        float highest;
    };
    const Case cases[] = {
        {'A', -25000.0, true, 1, -6.3f, -5.8f},
        {'B', 25000.0, true, 1, -200.0f, -55.0f},  // 50 kHz away: the filter's stopband
        {'A', -25000.0, false, 0, 0.0f, 0.0f},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.channel);
        Report report;
        SensitiveChain chain(
            test.channel, test.offsetHz, test.verbose, SentenceSink{},
            [](void* context, int channel, float level, float) {
                auto* seen = static_cast<Report*>(context);
                ++seen->calls;
                seen->channel = channel;
                seen->level = level;
            },
            &report);
        chain.processBlock(samples.data(), static_cast<uint32_t>(samples.size()));
        ASSERT_EQ(report.calls, test.calls);
        if (test.calls > 0) {
            EXPECT_EQ(report.channel, test.channel);
            EXPECT_GE(report.level, test.lowest);
            EXPECT_LE(report.level, test.highest);
        }
    }
}

}  // namespace
}  // namespace keelwave::ais::testing
