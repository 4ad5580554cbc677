#include "tools/transmitter/reception_score.hpp"

#include "tools/transmitter/expected_sentences.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace transmitter;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

// `length` bits whose first six carry `identifier`; `pattern` varies the rest.
Bits message(std::size_t length, int identifier, int pattern) {
    Bits bits(length, 0);
    for (std::size_t index = 0; index < length; ++index) {
        bits[index] = index < 6 ? static_cast<std::uint8_t>((identifier >> (5 - index)) & 1)
                                : static_cast<std::uint8_t>((index * pattern / 7) & 1);
    }
    return bits;
}

// What a receiver prints when it gets only the messages marked in `received`: the sequence
// ids count the messages it printed.
std::vector<std::string> printedBy(const std::vector<Bits>& sent,
                                   const std::vector<bool>& received) {
    SequenceCounters counters;
    std::vector<std::string> sentences;
    for (std::size_t index = 0; index < sent.size(); ++index) {
        if (received[index] && receiverVerdict(sent[index]) == MessageVerdict::printed) {
            const auto some = expectedSentences(sent[index], 'A', counters);
            sentences.insert(sentences.end(), some.begin(), some.end());
        }
    }
    return sentences;
}

}  // namespace

TEST(ReceptionScore, SentenceLosesOnlyItsSequenceIdAndChecksum) {
    EXPECT_EQ(withoutSequenceId("!AIVDM,2,1,7,A,55?MbV02;H;s<HtKR20EHE:0,0*1C"),
              "!AIVDM,2,1,,A,55?MbV02;H;s<HtKR20EHE:0,0");
    EXPECT_EQ(withoutSequenceId("!AIVDM,1,1,,B,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A"),
              "!AIVDM,1,1,,B,15RTgt0PAso;90TKcjM8h6g208CQ,0");
}

TEST(ReceptionScore, CountsWholeMessagesDespiteShiftedSequenceIds) {
    // Two-sentence messages carry the sequence id; losing the first shifts all later ids.
    const std::vector<Bits> sent = {message(424, 5, 1), message(168, 1, 2), message(424, 5, 3),
                                    message(168, 28, 4), message(168, 3, 5)};
    const ReceptionScore all = scoreReception(sent, 'A', printedBy(sent, {1, 1, 1, 1, 1}));
    EXPECT_EQ(all.printable, 4u);  // identifier 28 is never printed
    EXPECT_EQ(all.printed, 4u);
    EXPECT_THAT(all.strays, IsEmpty());

    const ReceptionScore some = scoreReception(sent, 'A', printedBy(sent, {0, 1, 1, 1, 0}));
    EXPECT_EQ(some.printed, 2u);
    EXPECT_THAT(some.strays, IsEmpty());
}

TEST(ReceptionScore, SentencesOfNoMessageSentAreStrays) {
    const std::vector<Bits> sent = {message(168, 1, 1), message(424, 5, 2), message(168, 1, 3)};
    std::vector<std::string> received = printedBy(sent, {1, 1, 1});
    ASSERT_EQ(received.size(), 4u);
    const std::string foreign = "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A";
    const std::string secondHalfAlone = received[2];
    received.erase(received.begin() + 1);  // the long message's first sentence
    received.insert(received.begin(), foreign);
    const ReceptionScore score = scoreReception(sent, 'A', received);
    EXPECT_EQ(score.printed, 2u);
    EXPECT_THAT(score.strays, ElementsAre(foreign, secondHalfAlone));
}
