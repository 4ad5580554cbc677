#include "tools/transmitter/expected_sentences.hpp"

#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace transmitter;
using testing::ElementsAre;

namespace {

Bits messageOf(const std::string& sentences) {
    std::istringstream in(sentences);
    const NmeaReadReport report = readNmeaMessages(in);
    EXPECT_EQ(report.messages.size(), 1u) << sentences;
    return report.messages.empty() ? Bits{} : report.messages[0].bits;
}

Bits zerosWithIdentifier(std::size_t length, int identifier) {
    Bits bits(length, 0);
    for (int bit = 0; bit < 6; ++bit) {
        bits[static_cast<std::size_t>(bit)] =
            static_cast<std::uint8_t>((identifier >> (5 - bit)) & 1);
    }
    return bits;
}

}  // namespace

TEST(ExpectedSentences, ReproducesRealWholeByteSentencesExactly) {
    // Every real one-sentence message of whole bytes, as an "AI" talker on channel A or B
    // without sequence id, must come back character for character, checksum included.
    std::ifstream file(TEST_DATA_DIR "/real-aivdm-sample.nmea");
    int compared = 0;
    for (std::string line; std::getline(file, line);) {
        const NmeaSentence sentence = parseNmeaSentence(line);
        const Bits bits = dearmourPayload(sentence.payload, sentence.fillBits);
        if (line.compare(0, 14, "!AIVDM,1,1,,A,") != 0 &&
            line.compare(0, 14, "!AIVDM,1,1,,B,") != 0) {
            continue;
        }
        if (bits.size() % 8 != 0 || receiverVerdict(bits) != MessageVerdict::printed) {
            continue;
        }
        SequenceCounters counters;
        EXPECT_THAT(expectedSentences(bits, sentence.channel, counters), ElementsAre(line));
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

TEST(ExpectedSentences, MatchesHandCheckedSentences) {
    struct Case {
        const char* input;  // real sentences from tests/data/real-aivdm-sample.nmea
        char channel;
        int sequenceId;
        std::vector<std::string> expected;
    } cases[] = {
        // 168 bits: unchanged.
        {"!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A",
         'B',
         0,
         {"!AIVDM,1,1,,B,15RTgt0PAso;90TKcjM8h6g208CQ,0*49"}},
        // 163 bits travel as 168: the fill becomes a zero character.
        {"!AIVDM,1,1,,A,13aIkM@P00PJ@qPNL=e@0?wJ28JO,5*63",
         'A',
         0,
         {"!AIVDM,1,1,,A,13aIkM@P00PJ@qPNL=e@0?wJ28J0,0*19"}},
        // 124 bits travel as 128: one more character, fill 4.
        {"!AIVDM,1,1,,B,7`0Pv1L:Ac8rbgPKHA8`P,2*56",
         'B',
         0,
         {"!AIVDM,1,1,,B,7`0Pv1L:Ac8rbgPKHA8`P0,4*60"}},
        {"!AIVDM,1,1,,A,H7`B1l@@U<<uHE9V1H000000000,0*2D",
         'A',
         0,
         {"!AIVDM,1,1,,A,H7`B1l@@U<<uHE9V1H0000000000,0*1D"}},
        {"!AIVDM,1,1,,A,GHv=2H,3*1B", 'B', 0, {"!AIVDM,1,1,,B,GHv=2H0,2*29"}},
        // 424 bits: the sender split 60 + 11 characters, a receiver splits 56 + 15.
        {"!AIVDM,2,1,1,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1C\n"
         "!AIVDM,2,2,1,A,88888888880,2*25",
         'A',
         1,
         {"!AIVDM,2,1,1,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6C,0*6A",
          "!AIVDM,2,2,1,A,lRp888888888880,2*53"}},
    };
    for (const Case& c : cases) {
        SequenceCounters counters{c.sequenceId, c.sequenceId};
        EXPECT_EQ(expectedSentences(messageOf(c.input), c.channel, counters), c.expected);
    }
}

TEST(ExpectedSentences, SplitsAtFiftySixCharactersWithTheRightFill) {
    struct Case {
        std::size_t bits;
        std::vector<std::size_t> lengths;  // payload characters per sentence
        std::vector<char> fills;
    } cases[] = {
        {160, {27}, {'2'}},         {168, {28}, {'0'}},          {336, {56}, {'0'}},
        {337, {56, 2}, {'0', '4'}}, {424, {56, 15}, {'0', '2'}}, {8, {2}, {'4'}},
    };
    for (const Case& c : cases) {
        SequenceCounters counters;
        const auto sentences = expectedSentences(zerosWithIdentifier(c.bits, 1), 'A', counters);
        ASSERT_EQ(sentences.size(), c.lengths.size()) << c.bits;
        for (std::size_t index = 0; index < sentences.size(); ++index) {
            const NmeaSentence parsed = parseNmeaSentence(sentences[index]);  // checks checksum
            EXPECT_EQ(parsed.payload.size(), c.lengths[index]) << c.bits;
            EXPECT_EQ(sentences[index][sentences[index].size() - 4], c.fills[index]) << c.bits;
        }
    }
    SequenceCounters counters;
    EXPECT_THAT(expectedSentences(zerosWithIdentifier(168, 1), 'A', counters),
                ElementsAre("!AIVDM,1,1,,A,1000000000000000000000000000,0*27"));
    EXPECT_THAT(expectedSentences(zerosWithIdentifier(168, 1), 'B', counters),
                ElementsAre("!AIVDM,1,1,,B,1000000000000000000000000000,0*24"));
}

TEST(ExpectedSentences, CountsSequenceIdsPerChannelOverEveryMessage) {
    SequenceCounters counters;
    const Bits shortMessage = zerosWithIdentifier(168, 1);
    const Bits longMessage = zerosWithIdentifier(424, 5);
    std::string idsOnA;
    for (int message = 0; message < 12; ++message) {
        expectedSentences(shortMessage, 'B', counters);  // B's counter must not touch A's
        const auto sentences =
            expectedSentences(message % 3 == 0 ? longMessage : shortMessage, 'A', counters);
        if (sentences.size() == 2) {
            EXPECT_EQ(sentences[0][11], sentences[1][11]);  // "!AIVDM,2,n,<id>,A,"
            idsOnA += sentences[1][11];
        }
    }
    EXPECT_EQ(idsOnA, "0369");  // one-sentence messages between advance the counter too
    EXPECT_EQ(counters.channelA, 2);
    EXPECT_EQ(counters.channelB, 2);
}

TEST(ReceiverVerdict, DropsWhatAReceiverNeverPrints) {
    EXPECT_EQ(receiverVerdict({}), MessageVerdict::empty);
    EXPECT_EQ(receiverVerdict(zerosWithIdentifier(168, 0)), MessageVerdict::invalidIdentifier);
    EXPECT_EQ(receiverVerdict(zerosWithIdentifier(168, 27)), MessageVerdict::printed);
    EXPECT_EQ(receiverVerdict(zerosWithIdentifier(168, 28)), MessageVerdict::invalidIdentifier);
    EXPECT_EQ(receiverVerdict(zerosWithIdentifier(424, 5)), MessageVerdict::printed);
    EXPECT_EQ(receiverVerdict(zerosWithIdentifier(417, 5)), MessageVerdict::printed);
    EXPECT_EQ(receiverVerdict(zerosWithIdentifier(425, 5)), MessageVerdict::tooLong);
    EXPECT_EQ(verdictText(MessageVerdict::tooLong, zerosWithIdentifier(425, 5)),
              "432 bits, more than a frame carries");

    std::ifstream file(TEST_DATA_DIR "/real-aivdm-invalid-type.nmea");
    const NmeaReadReport report = readNmeaMessages(file);
    ASSERT_EQ(report.messages.size(), 17u);
    for (const AisMessage& message : report.messages) {
        // Identifiers 28 and above; one of them is also too long for a frame.
        EXPECT_NE(receiverVerdict(message.bits), MessageVerdict::printed)
            << "line " << message.firstLine;
    }
}
