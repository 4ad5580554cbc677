#include "ais/ais_decoder.hpp"

#include "ais/ais_receiver.hpp"
#include "net/sentence_dispatch.hpp"
#include "net/udp_connect.hpp"
#include "tests/support/log_capture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include <cmath>
#include <vector>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

constexpr int blockSamples = 4096;  // what a channel hands its decoder at a time

// A block with a clear peak, as noise on an idle channel gives.
std::vector<int16_t> toneBlock() {
    std::vector<int16_t> block(blockSamples);
    for (int n = 0; n < blockSamples; ++n) {
        block[n] = static_cast<int16_t>(std::lround(3000.0 * std::sin(0.3 * n)));
    }
    return block;
}

TEST(AisDecoder, ConstructionWiresTheChainToDispatchAndLevelReports) {
    for (const bool verbose : {false, true}) {
        AisDecoder decoder('B', verbose);
        EXPECT_EQ(decoder.frequency, 0u);
        EXPECT_EQ(decoder.channel, 'B');
        EXPECT_EQ(decoder.networkServer, nullptr);
        EXPECT_FALSE(decoder.udpClient);
        ASSERT_NE(decoder.receiver, nullptr);
        const AisReceiver& receiver = *decoder.receiver;
        EXPECT_EQ(receiver.channel, 'B');
        EXPECT_EQ(receiver.levelReports, verbose ? 1u : 0u);
        EXPECT_EQ(receiver.levelCallback, &reportLevel);
        EXPECT_EQ(receiver.levelContext, &decoder);
        EXPECT_EQ(receiver.frameDecoder->channel, 'B');
        EXPECT_EQ(receiver.frameDecoder->sentenceCallback, &dispatchSentence);
        EXPECT_EQ(receiver.frameDecoder->sentenceContext, &decoder);
    }
}

TEST(AisDecoder, VerboseDecoderReportsItsLevelOnTheFirstBlock) {
    const std::vector<int16_t> block = toneBlock();
    LogCapture log;
    AisDecoder decoder('A', true);
    decoder.process(block.data(), blockSamples);
    const auto texts = log.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_THAT(texts[0], testing::StartsWith("Channel A Level "));
}

TEST(AisDecoder, QuietDecoderNeverReportsItsLevel) {
    const std::vector<int16_t> block = toneBlock();
    LogCapture log;
    AisDecoder decoder('A', false);
    for (int count = 0; count < 20; ++count) {
        decoder.process(block.data(), blockSamples);
    }
    EXPECT_THAT(log.texts(), IsEmpty());
}

TEST(AisDecoder, DestructionGivesUpItsShareOfTheUdpClient) {
    boost::asio::io_service io;
    const auto udp = boost::make_shared<UdpConnect>(io, "127.0.0.1", 10110);
    {
        AisDecoder used('A', true);
        AisDecoder unused('B', false);  // never fed a block: frees all the same
        used.udpClient = udp;
        unused.udpClient = udp;
        const std::vector<int16_t> block = toneBlock();
        used.process(block.data(), blockSamples);
        EXPECT_EQ(udp.use_count(), 3);
    }
    EXPECT_EQ(udp.use_count(), 1);
}

struct ReportCase {
    int channel;
    float level;  // percent of full scale
    float gain;
    const char* text;
};

// Numbers print as the streams print them by default: 6 significant digits, no trailing zeros.
const ReportCase reportCases[] = {
    {'A', 47.607421875f, 9.83f, "Channel A Level 47.6074 Gain 9.83"},
    {'B', 12.207f, 4.07f, "Channel B Level 12.207 Gain 4.07"},
    {'A', 100.0f, 1.0f, "Channel A Level 100 Gain 1"},
    {'B', 0.0f, 0.125f, "Channel B Level 0 Gain 0.125"},
    {'A', 0.0030517578f, 1234567.0f, "Channel A Level 0.00305176 Gain 1.23457e+06"},
};

TEST(ReportLevel, LogsChannelLevelAndGainAtInfo) {
    AisDecoder decoder('A', false);
    for (const ReportCase& report : reportCases) {
        LogCapture log;
        reportLevel(&decoder, report.channel, report.level, report.gain);
        EXPECT_THAT(log.texts(), ElementsAre(report.text));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].substr(25, 9), "INFO     ");
    }
}

TEST(ReportLevel, NullContextLogsNothing) {
    LogCapture log;
    reportLevel(nullptr, 'A', 47.6f, 9.83f);
    EXPECT_THAT(log.texts(), IsEmpty());
}

}  // namespace
