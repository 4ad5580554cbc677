// The whole radio path: a noiseless tuner recording (unsigned 8-bit I/Q at 288000 samples/s)
// in which the transmitter model sends the real message corpus as bursts on both channels at
// once, one per slot and channel, goes through both channel demodulators and receivers as the
// channel threads run them. Without noise every message must come back, on its own channel,
// sequence ids and checksums included.
#include "ais/ais_receiver.hpp"
#include "sdr/channel_demodulator.hpp"

#include "tests/ais/ais_test_support.hpp"
#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/burst_schedule.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/iq_recording.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tx = transmitter;

namespace {

constexpr uint32_t tunerCentre = 162000000;    // Hz
constexpr int32_t channelA = 161975000;        // Hz
constexpr int32_t channelB = 162025000;        // Hz
constexpr std::size_t transferBytes = 102400;  // One tuner transfer: 51200 I/Q pairs.
// Silence after the last burst, so that it reaches the receiver in whole 4096-sample blocks.
constexpr std::int64_t trailingSamples = 86400;  // 0.3 s at 288000 samples/s

// A receiver behind a channel demodulator.
class ReceiverChain : public SdrDecoder {
public:
    explicit ReceiverChain(char channel)
        : receiver(
              createAisReceiver(channel, false, &SentenceSink::collect, &sink, nullptr, nullptr)) {}
    ~ReceiverChain() override { destroyAisReceiver(receiver); }
    void process(const int16_t* samples, int32_t count) override {
        processSamples(receiver, samples, count);
    }
    SentenceSink sink;

private:
    AisReceiver* receiver;
};

struct Recording {
    std::string bytes;
    std::vector<std::string> expectedA;
    std::vector<std::string> expectedB;
};

// Bursts alternate between the channels; each starts at its slot boundary plus a share of a
// bit drawn at random, so their edges meet the receivers' sampling instants at every phase.
Recording recordCorpus() {
    std::ifstream file(std::string(TEST_DATA_DIR) + "/real-aivdm-sample.nmea");
    const tx::NmeaReadReport report = tx::readNmeaMessages(file);
    tx::SlotPlan plan;
    tx::GaussianNoise timing = tx::makeGaussianNoise(1);
    tx::SequenceCounters counters;
    std::vector<tx::RecordedBurst> bursts;
    Recording recording;
    double end = 0.0;
    char channel = 'A';
    for (const tx::AisMessage& message : report.messages) {
        if (tx::receiverVerdict(message.bits) != tx::MessageVerdict::printed) {
            continue;
        }
        const tx::Bits levels = tx::nrziEncode(tx::burstBits(message.bits));
        const double offset = tx::nextUniform(timing) * tx::rawSamplesPerBit(0.0);
        const double start = tx::placeBurst(plan, channel, levels.size(), offset);
        bursts.push_back({levels, channel, start});
        end = std::max(end, tx::burstEndSample(start, levels.size(), 0.0));
        std::vector<std::string>& expected =
            channel == 'A' ? recording.expectedA : recording.expectedB;
        for (const std::string& sentence : tx::expectedSentences(message.bits, channel, counters)) {
            expected.push_back(sentence);
        }
        channel = channel == 'A' ? 'B' : 'A';
    }
    std::ostringstream out;
    tx::writeRecording(bursts, static_cast<std::int64_t>(end) + trailingSamples, {},
                       tx::makeGmskPulse(), out);
    recording.bytes = out.str();
    return recording;
}

}  // namespace

TEST(RecordingRoundTrip, CleanRecordingOfBothChannelsComesBackWhole) {
    const Recording recording = recordCorpus();
    ASSERT_EQ(recording.expectedA.size() + recording.expectedB.size(), 281u);

    ReceiverChain chainA('A');
    ReceiverChain chainB('B');
    DemodulatorState stateA;
    DemodulatorState stateB;
    stateA.phaseIncrement = channelPhaseIncrement(channelA, tunerCentre);
    stateB.phaseIncrement = channelPhaseIncrement(channelB, tunerCentre);
    std::vector<float> samples;
    for (std::size_t offset = 0; offset < recording.bytes.size(); offset += transferBytes) {
        const std::size_t count = std::min(transferBytes, recording.bytes.size() - offset);
        samples.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            samples[i] =
                static_cast<float>(static_cast<unsigned char>(recording.bytes[offset + i])) -
                128.0f;
        }
        demodulateBlock(stateA, samples.data(), static_cast<uint32_t>(count), chainA);
        demodulateBlock(stateB, samples.data(), static_cast<uint32_t>(count), chainB);
    }
    EXPECT_EQ(chainA.sink.sentences, recording.expectedA);
    EXPECT_EQ(chainB.sink.sentences, recording.expectedB);
}
