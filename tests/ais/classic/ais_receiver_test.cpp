// The receiver front end: real messages sent as GMSK bursts by the transmitter model come back
// as exactly the sentences a correct receiver prints, and the software gain moves as it must.
#include "ais/classic/ais_receiver.hpp"
#include "tests/support/corpus.hpp"
#include "tools/transmitter/burst_stream.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace keelwave::test {
namespace {

using namespace ais;

void collectReport(void* context, int channel, float level, float gain) {
    static_cast<std::vector<std::tuple<int, float, float>>*>(context)->emplace_back(channel, level,
                                                                                    gain);
}

/// A receiver for channel 'B' with level reports on, keeping what it hands out.
struct Receiver {
    Receiver() {
        chain->channel = 'B';
        chain->levelReports = 1;
        chain->levelCallback = &collectReport;
        chain->levelContext = &reports;
        chain->frameDecoder.frameCallback = &encodeFrame;
        chain->frameDecoder.frameContext = &encoder;
    }
    std::vector<std::string> sentences;
    std::vector<std::tuple<int, float, float>> reports;
    SentenceEncoder encoder{'B', ChainKind::classic, sentencesInto(sentences)};
    std::unique_ptr<AisReceiver> chain = std::make_unique<AisReceiver>();
};

TEST(AisReceiver, HearsEveryRealMessageAsItsSentences) {
    // A real sentence of an impossible message type before each of the first messages: those
    // print nothing and take no sequence id.
    std::vector<transmitter::Bits> mixed;
    for (const transmitter::Bits& invalid : realMessages("real-aivdm-invalid-type.nmea")) {
        mixed.insert(mixed.end(), {invalid, corpus()[mixed.size() / 2]});
    }
    mixed.insert(mixed.end(), corpus().begin() + static_cast<long>(mixed.size() / 2),
                 corpus().end());
    const std::vector<transmitter::Bits> first40(corpus().begin(), corpus().begin() + 40);
    struct Case {
        const std::vector<transmitter::Bits>& messages;
        double clockErrorPpm;
        double snrDb;     // peak deviation over noise, discriminator units
        float startGain;  // 33: where 30 s of noiseless silence leaves it, overdriving the bursts
    };
    for (const Case& c : {Case{mixed, 0, 30, 1.0f}, Case{corpus(), 100, 30, 1.0f},
                          Case{corpus(), -100, 30, 1.0f}, Case{first40, 0, 200, 33.0f}}) {
        transmitter::StreamSettings air;
        air.clockErrorPpm = c.clockErrorPpm;
        air.noiseRms = transmitter::noiseRmsForSnr(c.snrDb);
        // Successive bursts meet the bit clock an irrational share of a bit further on.
        air.firstOffsetSamples = 0.1;
        air.offsetStepSamples = 5.0 * 0.6180339887;
        const auto samples = transmitter::renderBurstStream(aisPulse(), c.messages, air).samples;
        Receiver receiver;
        receiver.chain->gain = c.startGain;
        for (std::size_t start = 0; start < samples.size(); start += 4096) {
            const auto count = std::min<std::size_t>(4096, samples.size() - start);
            processSamples(receiver.chain.get(), &samples[start], static_cast<int32_t>(count));
        }
        EXPECT_EQ(receiver.sentences, expectedFor(c.messages, 'B')) << c.clockErrorPpm << " ppm";
    }
}

TEST(AisReceiver, GainFollowsTheBlockPeakWithinItsBounds) {
    struct Case {
        float gain;
        int16_t peak;  // discriminator units; 16384 is 50 % of full scale, 24576 is 75 %
        float after;
    };
    const Case cases[] = {
        {1.0f, 0, 1.01f},     {2.0f, 16383, 2.02f}, {1.0f, 16384, 1.0f},     {1.0f, 24576, 1.0f},
        {1.0f, 24577, 0.99f}, {99.5f, 0, 1.0f},     {100.0f, 20000, 100.0f}, {0.0101f, 30000, 1.0f},
        {0.01f, 20000, 1.0f},  // the float nearest 0.01 lies below it
    };
    for (const Case& c : cases) {
        Receiver receiver;
        receiver.chain->gain = c.gain;
        adjustGainAndReport(receiver.chain.get(), c.peak, 1);
        EXPECT_FLOAT_EQ(receiver.chain->gain, c.after) << c.gain << " at peak " << c.peak;
    }
    // An overdriven sample counts as full scale, so the gain comes down.
    Receiver overdriven;
    overdriven.chain->gain = 2.0f;
    const std::vector<int16_t> loud(4096, 20000);  // 40000 after the gain
    processSamples(overdriven.chain.get(), loud.data(), 4096);
    EXPECT_LT(overdriven.chain->gain, 2.0f);
}

TEST(AisReceiver, ALevelChangePullsTheBitClockTowardsMidBit) {
    struct Case {
        uint32_t state;     // the deframer's: in the training the clock jumps half the way
        uint32_t phase;     // before the sample, 65536 to a bit; a change belongs at 32768
        uint32_t expected;  // after it, 13107 later
    };
    const Case cases[] = {
        {StateData, 32767, 32767 + 819 + 13107},
        {StateData, 32768, 32768 - 819 + 13107},
        {StateData, 0, 819 + 13107},
        {StateTraining, 0, 16384 + 13107},
    };
    for (const Case& c : cases) {
        Receiver receiver;
        receiver.chain->frameDecoder.state = c.state;
        receiver.chain->pllPhase = c.phase;
        const float rising = 1.0f;  // from level 0 to 1
        recoverBits(receiver.chain.get(), &rising, 1);
        EXPECT_EQ(receiver.chain->pllPhase, c.expected) << c.phase;
    }
}

TEST(AisReceiver, ReportsLevelAndGainAtMostOnceASecond) {
    Receiver receiver;
    for (time_t now : {100, 100, 101, 101, 250}) {
        adjustGainAndReport(receiver.chain.get(), 8192, now);
    }
    ASSERT_EQ(receiver.reports.size(), 3u);
    EXPECT_EQ(receiver.reports[0], std::make_tuple('B', 25.0f, 1.01f));
    EXPECT_EQ(std::get<2>(receiver.reports[2]), receiver.chain->gain);
    receiver.chain->levelReports = 0;
    adjustGainAndReport(receiver.chain.get(), 8192, 300);
    EXPECT_EQ(receiver.reports.size(), 3u);
    EXPECT_EQ(receiver.chain->lastReportTime, 300);
}

}  // namespace
}  // namespace keelwave::test
