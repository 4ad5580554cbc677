// Real AIS messages sent by the transmitter model (framing, NRZI, GMSK with BT 0.4, 2400 Hz
// deviation, discriminator samples at 48000 samples/s), one burst per slot on channel A, and
// received by the decoding chain in 4096-sample blocks as the channel thread hands them over.
// The model shares no code with the decoder, so the sentences must match character for
// character, sequence ids and checksums included.
#include "ais/ais_receiver.hpp"

#include "tests/ais/ais_test_support.hpp"
#include "tools/transmitter/burst_stream.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/nmea_input.hpp"
#include "tools/transmitter/reception_score.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace tx = transmitter;

using testing::IsEmpty;

namespace {

// Peak deviation 40 dB above the noise RMS in discriminator units: 16.4 units of noise on a
// 1638.4-unit swing.
constexpr double highSnrDb = 40.0;
// Burst i starts 0.125 + 2.25 i samples (modulo one bit) after its slot boundary: twenty
// offsets spread over the bit, each at least an eighth of a sample off the sample grid (bursts
// with their bit edges on the grid are decode_sensitivity's concern).
constexpr double firstOffsetSamples = 0.125;
constexpr double offsetStepSamples = 2.25;

std::vector<tx::Bits> readMessages(const std::string& name) {
    std::ifstream file(std::string(TEST_DATA_DIR) + "/" + name);
    std::vector<tx::Bits> messages;
    for (const tx::AisMessage& message : tx::readNmeaMessages(file).messages) {
        messages.push_back(message.bits);
    }
    return messages;
}

const std::vector<tx::Bits>& corpus() {
    static const std::vector<tx::Bits> messages = readMessages("real-aivdm-sample.nmea");
    return messages;
}

const tx::GmskPulse& pulse() {
    static const tx::GmskPulse gmsk = tx::makeGmskPulse(tx::kAisBandwidthTime);
    return gmsk;
}

std::vector<std::string> receive(const std::vector<int16_t>& samples, float gain = 1.0f) {
    SentenceSink sink;
    AisReceiver* receiver =
        createAisReceiver('A', false, &SentenceSink::collect, &sink, nullptr, nullptr);
    receiver->gain = gain;
    processInChannelBlocks(receiver, samples);
    destroyAisReceiver(receiver);
    return sink.sentences;
}

// What a correct receiver prints for the messages, in order, on channel A.
std::vector<std::string> expectedFor(const std::vector<tx::Bits>& messages) {
    tx::SequenceCounters counters;
    std::vector<std::string> sentences;
    for (const tx::Bits& message : messages) {
        if (tx::receiverVerdict(message) == tx::MessageVerdict::printed) {
            const auto some = tx::expectedSentences(message, 'A', counters);
            sentences.insert(sentences.end(), some.begin(), some.end());
        }
    }
    return sentences;
}

tx::StreamSettings highSnr() {
    tx::StreamSettings settings;
    settings.noiseRms = tx::noiseRmsForSnr(highSnrDb);
    settings.firstOffsetSamples = firstOffsetSamples;
    settings.offsetStepSamples = offsetStepSamples;
    return settings;
}

std::vector<std::string> sendAndReceive(const std::vector<tx::Bits>& messages,
                                        const tx::StreamSettings& settings) {
    return receive(tx::renderBurstStream(pulse(), messages, settings).samples);
}

}  // namespace

TEST(RoundTrip, EveryRealMessageComesBackAsItsSentences) {
    // 261 messages of all types 1..27, one to three sentences each; a few are longer than a
    // frame carries and must be left out.
    ASSERT_GE(corpus().size(), 250u);
    const std::vector<std::string> expected = expectedFor(corpus());
    ASSERT_GE(expected.size(), 280u);
    EXPECT_EQ(sendAndReceive(corpus(), highSnr()), expected);
}

TEST(RoundTrip, ImpossibleMessageIdentifiersPrintNothingAndTakeNoSequenceId) {
    const std::vector<tx::Bits> invalid = readMessages("real-aivdm-invalid-type.nmea");
    ASSERT_GE(invalid.size(), 15u);
    for (const tx::Bits& message : invalid) {
        ASSERT_NE(tx::receiverVerdict(message), tx::MessageVerdict::printed);
    }
    EXPECT_THAT(sendAndReceive(invalid, highSnr()), IsEmpty());

    // Each between two good ones: the good ones keep consecutive sequence ids.
    std::vector<tx::Bits> mixed;
    for (size_t index = 0; index < invalid.size(); ++index) {
        mixed.push_back(invalid[index]);
        mixed.push_back(corpus()[index]);
    }
    EXPECT_EQ(sendAndReceive(mixed, highSnr()), expectedFor(mixed));
}

TEST(RoundTrip, BurstsAfterALongDigitalSilenceComeBack) {
    // Without noise the discriminator reads 0 between bursts, the block peak stays 0 and the
    // gain climbs by 1 % a block: after 30 s (352 blocks) it stands at 33, and the bursts'
    // 1638-unit swing overdrives the 16-bit range until it has come down again.
    constexpr float gainAfterSilence = 33.0f;
    const std::vector<tx::Bits> messages(corpus().begin(), corpus().begin() + 40);
    tx::StreamSettings settings;
    settings.firstOffsetSamples = firstOffsetSamples;
    settings.offsetStepSamples = offsetStepSamples;
    EXPECT_EQ(receive(tx::renderBurstStream(pulse(), messages, settings).samples, gainAfterSilence),
              expectedFor(messages));
}

namespace {

// A 168-bit position report and a 424-bit static report, the longest a frame carries.
std::vector<tx::Bits> shortAndLongMessage() {
    std::vector<tx::Bits> pair;
    for (const tx::Bits& message : corpus()) {
        if (pair.empty() ? message.size() == 168 : message.size() == 424) {
            pair.push_back(message);
        }
        if (pair.size() == 2) {
            break;
        }
    }
    return pair;
}

}  // namespace

class RoundTripStartOffset : public testing::TestWithParam<int> {};

TEST_P(RoundTripStartOffset, NoiselessBurstsDecodeWhereverTheyStart) {
    // Without noise the bit clock is in the same state at every run, so the offset alone sets
    // where the bits fall against its sampling instants: quarter samples over a whole bit,
    // bit edges on the sample grid included.
    const std::vector<tx::Bits> messages = shortAndLongMessage();
    ASSERT_EQ(messages.size(), 2u);
    tx::StreamSettings settings;
    settings.firstOffsetSamples = GetParam() / 4.0;
    EXPECT_EQ(sendAndReceive(messages, settings), expectedFor(messages));
}

INSTANTIATE_TEST_SUITE_P(QuarterSamples, RoundTripStartOffset, testing::Range(0, 20),
                         [](const testing::TestParamInfo<int>& p) {
                             return std::to_string(p.param) + "QuarterSamples";
                         });

class RoundTripClockError : public testing::TestWithParam<int> {};

TEST_P(RoundTripClockError, EveryRealMessageComesBack) {
    // AIS transmitters keep their bit clock within 50 ppm.
    tx::StreamSettings settings = highSnr();
    settings.clockErrorPpm = GetParam();
    EXPECT_EQ(sendAndReceive(corpus(), settings), expectedFor(corpus()));
}

INSTANTIATE_TEST_SUITE_P(Ppm, RoundTripClockError, testing::Values(-100, 100),
                         [](const testing::TestParamInfo<int>& p) {
                             return (p.param < 0 ? "Minus" : "Plus") +
                                    std::to_string(std::abs(p.param)) + "Ppm";
                         });

TEST(RoundTrip, BitClockFollowsAFortyTimesLargerClockError) {
    // At 0.2 % the bits drift across the sample grid within a burst; the loop follows them
    // and every message printed is right. Losses begin past 0.4 %, and at 0.8 % one burst in
    // six is lost.
    constexpr double minShare = 0.97;
    for (const double ppm : {-2000.0, 2000.0}) {
        tx::StreamSettings settings = highSnr();
        settings.clockErrorPpm = ppm;
        const tx::ReceptionScore score =
            tx::scoreReception(corpus(), 'A', sendAndReceive(corpus(), settings));
        EXPECT_GE(score.printed, minShare * score.printable) << ppm << " ppm";
        EXPECT_THAT(score.strays, IsEmpty()) << ppm << " ppm";
    }
}
