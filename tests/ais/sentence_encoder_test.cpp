#include "ais/sentence_encoder.hpp"

#include "ais/frame_decoder.hpp"
#include "tests/ais/ais_test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using testing::ElementsAre;

namespace {

struct FrameDecoderDeleter {
    void operator()(FrameDecoder* decoder) const { destroyFrameDecoder(decoder); }
};
using DecoderPtr = std::unique_ptr<FrameDecoder, FrameDecoderDeleter>;

DecoderPtr makeDecoder(char channel, SentenceSink* sink) {
    return DecoderPtr(createFrameDecoder(channel, sink ? &SentenceSink::collect : nullptr, sink));
}

Bits messageId1(int nb) {
    Bits bits(nb, 0);
    bits[5] = 1;
    return bits;
}

// XOR of everything between '!' and '*', written as NMEA does.
std::string recomputedChecksum(const std::string& sentence) {
    unsigned checksum = 0;
    for (size_t i = 1; i < sentence.find('*'); ++i) {
        checksum ^= static_cast<unsigned char>(sentence[i]);
    }
    char text[3];
    std::snprintf(text, sizeof text, "%02X", checksum);
    return text;
}

}  // namespace

TEST(SentenceEncoder, IdentifierOneMessageGivesTheKnownSentencePerChannel) {
    for (const auto& [channel, expected] :
         {std::pair<char, const char*>{'A', "!AIVDM,1,1,,A,1000000000000000000000000000,0*27"},
          {'B', "!AIVDM,1,1,,B,1000000000000000000000000000,0*24"}}) {
        SentenceSink sink;
        DecoderPtr decoder = makeDecoder(channel, &sink);
        const Bits bits = messageId1(168);
        emitSentences(decoder.get(), bits.data(), 168);
        EXPECT_THAT(sink.sentences, ElementsAre(expected)) << channel;
    }
}

TEST(SentenceEncoder, EverySixBitValueMapsToItsArmouredCharacter) {
    Bits bits;
    for (int value = 0; value < 64; ++value) {
        for (int i = 5; i >= 0; --i) {
            bits.push_back((value >> i) & 1);
        }
    }
    SentenceSink sink;
    DecoderPtr decoder = makeDecoder('A', &sink);
    emitSentences(decoder.get(), bits.data(), static_cast<int32_t>(bits.size()));
    ASSERT_EQ(sink.sentences.size(), 2u);
    EXPECT_EQ(sentenceFields(sink.sentences[0])[5] + sentenceFields(sink.sentences[1])[5],
              "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW`abcdefghijklmnopqrstuvw");
}

struct FragmentCase {
    int nb;
    std::vector<std::pair<size_t, char>> fragments;  // Payload characters and fill digit.
};

class SentenceEncoderFragments : public testing::TestWithParam<FragmentCase> {};

TEST_P(SentenceEncoderFragments, SplitsFillsAndChecksumsEachSentence) {
    const FragmentCase& param = GetParam();
    SentenceSink sink;
    DecoderPtr decoder = makeDecoder('B', &sink);
    decoder->sequenceId = 7;
    const Bits bits = randomMessage(param.nb, 1, static_cast<unsigned>(param.nb));
    emitSentences(decoder.get(), bits.data(), param.nb);

    const size_t count = param.fragments.size();
    ASSERT_EQ(sink.sentences.size(), count);
    for (size_t f = 0; f < count; ++f) {
        const std::string& sentence = sink.sentences[f];
        SCOPED_TRACE(sentence);
        EXPECT_LE(sentence.size(), 76u);
        const std::vector<std::string> fields = sentenceFields(sentence);
        ASSERT_EQ(fields.size(), 7u);
        EXPECT_EQ(fields[0], "!AIVDM");
        EXPECT_EQ(fields[1], std::to_string(count));
        EXPECT_EQ(fields[2], std::to_string(f + 1));
        EXPECT_EQ(fields[3], count == 1 ? "" : "7");
        EXPECT_EQ(fields[4], "B");
        EXPECT_EQ(fields[5].size(), param.fragments[f].first);
        for (char c : fields[5]) {
            EXPECT_TRUE((c >= '0' && c <= 'W') || (c >= '`' && c <= 'w')) << c;
        }
        ASSERT_EQ(fields[6].size(), 4u);
        EXPECT_EQ(fields[6][0], param.fragments[f].second);
        EXPECT_EQ(fields[6][1], '*');
        EXPECT_EQ(fields[6].substr(2), recomputedChecksum(sentence));
    }
    EXPECT_EQ(messageBitsOf(sink.sentences), bits);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SentenceEncoderFragments,
                         testing::Values(FragmentCase{1, {{1, '5'}}},
                                         FragmentCase{160, {{27, '2'}}},
                                         FragmentCase{168, {{28, '0'}}},
                                         FragmentCase{336, {{56, '0'}}},
                                         FragmentCase{337, {{56, '0'}, {1, '5'}}},
                                         FragmentCase{424, {{56, '0'}, {15, '2'}}},
                                         FragmentCase{426, {{56, '0'}, {15, '0'}}}),
                         [](const testing::TestParamInfo<FragmentCase>& p) {
                             return "Bits" + std::to_string(p.param.nb);
                         });

TEST(SentenceEncoder, SequenceIdAdvancesPerMessageAndWrapsAfterNine) {
    SentenceSink sink;
    DecoderPtr decoder = makeDecoder('A', &sink);
    const Bits bits = messageId1(424);
    emitSentences(decoder.get(), bits.data(), 168);
    EXPECT_EQ(decoder->sequenceId, 1);
    decoder->sequenceId = 9;
    emitSentences(decoder.get(), bits.data(), 424);
    EXPECT_EQ(decoder->sequenceId, 0);
    emitSentences(decoder.get(), bits.data(), 424);
    ASSERT_EQ(sink.sentences.size(), 5u);
    EXPECT_EQ(sink.sentences[1].substr(0, 15), "!AIVDM,2,1,9,A,");
    EXPECT_EQ(sink.sentences[2].substr(0, 15), "!AIVDM,2,2,9,A,");
    EXPECT_EQ(sink.sentences[3].substr(0, 15), "!AIVDM,2,1,0,A,");
    EXPECT_EQ(sink.sentences[4].substr(0, 15), "!AIVDM,2,2,0,A,");
}

TEST(SentenceEncoder, WithoutCallbackSentencesAreDroppedButTheIdAdvances) {
    DecoderPtr decoder = makeDecoder('A', nullptr);
    const Bits bits = messageId1(424);
    emitSentences(decoder.get(), bits.data(), 424);
    emitSentences(decoder.get(), bits.data(), 168);
    EXPECT_EQ(decoder->sequenceId, 2);
}
