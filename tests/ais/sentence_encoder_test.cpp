// Message bits to "!AIVDM" sentences: the examples that define the format, lengths that are no
// whole number of bytes, and the sequence id. (The record's type and MMSI are checked end to end,
// as MQTT topics against gpsd's fields; its bits by the fuzz targets, against its sentences.)
#include "ais/sentence_encoder.hpp"
#include "tests/support/corpus.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace keelwave::test {
namespace {

using namespace ais;

/// A channel's encoder keeping the sentences it hands on.
struct Encoder {
    explicit Encoder(char channel) : encoder(channel, ChainKind::classic, sentencesInto(out)) {}
    /// The sentences of a message of identifier 1 and `length` bits, the rest zeros.
    std::vector<std::string> encode(std::size_t length) {
        std::vector<uint8_t> bits(frameBitCapacity, 0);
        bits[5] = 1;
        out.clear();
        encoder.emit(bits.data(), static_cast<int32_t>(length), Reception{});
        return out;
    }
    std::vector<std::string> out;
    SentenceEncoder encoder;
};

TEST(SentenceEncoder, WritesTheDefiningExamples) {
    Encoder a('A');
    Encoder b('B');
    EXPECT_THAT(a.encode(168),
                testing::ElementsAre("!AIVDM,1,1,,A,1000000000000000000000000000,0*27"));
    EXPECT_THAT(b.encode(168),
                testing::ElementsAre("!AIVDM,1,1,,B,1000000000000000000000000000,0*24"));
    // 337 bits: 56 characters, then one holding the last bit and five fill bits.
    EXPECT_THAT(a.encode(337),
                testing::ElementsAre(
                    transmitter::withChecksum("AIVDM,2,1,1,A,1" + std::string(55, '0') + ",0"),
                    transmitter::withChecksum("AIVDM,2,2,1,A,0,5")));
}

TEST(SentenceEncoder, SequenceIdCountsEveryMessageAndWrapsAfterNine) {
    Encoder encoder('A');
    std::string ids;
    for (int message = 0; message < 12; ++message) {
        // One-sentence messages advance the id too.
        for (const std::string& sentence : encoder.encode(message % 3 == 0 ? 168 : 424)) {
            ids += sentence.substr(11, 1);
        }
    }
    EXPECT_EQ(ids, ",1122,4455,7788,0011");
}

}  // namespace
}  // namespace keelwave::test
