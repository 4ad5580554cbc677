// Message bits to "!AIVDM" sentences: the examples that define the format, lengths that are no
// whole number of bytes, and the sequence id.
#include "ais/sentence_encoder.hpp"
#include "ais/frame_decoder.hpp"
#include "tests/support/corpus.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace keelwave::test {
namespace {

using namespace ais;

/// The sentences of a message of identifier 1 and `length` bits, the rest zeros.
std::vector<std::string> encode(FrameDecoder* encoder, std::size_t length) {
    std::vector<uint8_t> bits(frameBitCapacity, 0);
    bits[5] = 1;
    auto& out = *static_cast<std::vector<std::string>*>(encoder->sentenceContext);
    out.clear();
    emitSentences(encoder, bits.data(), static_cast<int32_t>(length));
    return out;
}

TEST(SentenceEncoder, WritesTheDefiningExamples) {
    std::vector<std::string> out;
    FrameDecoder* a = createFrameDecoder('A', &collectSentence, &out);
    FrameDecoder* b = createFrameDecoder('B', &collectSentence, &out);
    EXPECT_THAT(encode(a, 168),
                testing::ElementsAre("!AIVDM,1,1,,A,1000000000000000000000000000,0*27"));
    EXPECT_THAT(encode(b, 168),
                testing::ElementsAre("!AIVDM,1,1,,B,1000000000000000000000000000,0*24"));
    // 337 bits: 56 characters, then one holding the last bit and five fill bits.
    EXPECT_THAT(encode(a, 337),
                testing::ElementsAre(
                    transmitter::withChecksum("AIVDM,2,1,1,A,1" + std::string(55, '0') + ",0"),
                    transmitter::withChecksum("AIVDM,2,2,1,A,0,5")));
    destroyFrameDecoder(a);
    destroyFrameDecoder(b);
}

TEST(SentenceEncoder, SequenceIdCountsEveryMessageAndWrapsAfterNine) {
    std::vector<std::string> out;
    FrameDecoder* encoder = createFrameDecoder('A', &collectSentence, &out);
    std::string ids;
    for (int message = 0; message < 12; ++message) {
        // One-sentence messages advance the id too.
        for (const std::string& sentence : encode(encoder, message % 3 == 0 ? 168 : 424)) {
            ids += sentence.substr(11, 1);
        }
    }
    EXPECT_EQ(ids, ",1122,4455,7788,0011");
    destroyFrameDecoder(encoder);
}

}  // namespace
}  // namespace keelwave::test
