// Message bits to the record that leaves a chain: the "!AIVDM" sentences of the examples that
// define the format, lengths that are no whole number of bytes, the sequence id, and the bits,
// type and MMSI an output reads.
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

void keepMessage(void* context, const AisMessage& message) {
    *static_cast<AisMessage*>(context) = message;
}

TEST(SentenceEncoder, TheRecordCarriesTheBitsTypeAndMmsiOfRealMessages) {
    AisMessage kept;
    SentenceEncoder encoder('B', ChainKind::sensitive, {&keepMessage, &kept});
    const Reception heard{123456, -42.5f, 310.0f};
    // The first real messages of the sample, with the type and MMSI gpsdecode gives them.
    const std::pair<uint32_t, uint32_t> typeAndMmsi[] = {
        {1, 371798000}, {2, 356302000}, {3, 563808000}, {4, 3669702}};
    for (std::size_t index = 0; index < std::size(typeAndMmsi); ++index) {
        const transmitter::Bits& message = corpus()[index];
        const std::vector<uint8_t> bits(message.begin(), message.end());
        encoder.emit(bits.data(), static_cast<int32_t>(bits.size()), heard);
        // The bits themselves the fuzz targets check against the sentences of every record.
        EXPECT_EQ(std::pair(kept.type(), kept.mmsi()), typeAndMmsi[index]);
        EXPECT_EQ(std::tuple(kept.bitCount, kept.channel, kept.chain, kept.reception.streamPair),
                  std::tuple(static_cast<int32_t>(message.size()), 'B', ChainKind::sensitive,
                             heard.streamPair));
    }
    // Too short to carry an MMSI.
    const std::vector<uint8_t> eightBits{0, 0, 0, 1, 0, 0, 0, 0};
    encoder.emit(eightBits.data(), 8, heard);
    EXPECT_EQ(std::pair(kept.type(), kept.mmsi()), std::pair(4u, 0u));
}

}  // namespace
}  // namespace keelwave::test
