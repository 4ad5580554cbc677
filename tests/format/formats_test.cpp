// A message's lines in each format: the bare sentences; tag blocks with time, station and the
// group of a two-sentence message, their checksums as a consumer checks them; one JSON object
// with the message's fields and how it was received.
#include "format/formats.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace keelwave::test {
namespace {

using format::FormatContext;

/// A clock that puts pair p at UNIX time 1772596631 + p / 288000, or, not `utc`, at p / 288000.
struct FixedClock : format::ArrivalClock {
    explicit FixedClock(bool anchored) : inUtc(anchored) {}
    std::optional<double> secondsAt(int64_t pair) const override {
        return pair < 0 ? std::nullopt
                        : std::optional(pair / 288000.0 + (inUtc ? 1772596631.0 : 0.0));
    }
    bool utc() const override { return inUtc; }
    bool inUtc;
};

/// A real type 1 message, or the two sentences of a real type 5 one.
ais::AisMessage received(bool twoSentences, int64_t streamPair) {
    ais::AisMessage message;
    const char* const sentences[] = {
        "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A",
        "!AIVDM,2,1,2,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6C,0*69",
        "!AIVDM,2,2,2,A,lRp888888888880,2*50"};
    message.sentenceCount = twoSentences ? 2 : 1;
    for (int32_t index = 0; index < message.sentenceCount; ++index) {
        std::strcpy(message.sentences[index], sentences[index + (twoSentences ? 1 : 0)]);
    }
    // The type 1 message's bits, as its payload carries them.
    const uint8_t type1[] = {0x04, 0x58, 0xa4, 0xbf, 0xc0, 0x20, 0x47, 0xbd, 0xcb, 0x24, 0x09,
                             0x1b, 0xaf, 0x27, 0x48, 0xc0, 0x6b, 0xc2, 0x00, 0x84, 0xe1};
    std::memcpy(message.bytes, type1, sizeof type1);
    message.bitCount = 168;
    message.reception = {streamPair, -41.26f, 311.96f};
    return message;
}

std::vector<std::string> lines(const std::string& format, const FormatContext& context,
                               const ais::AisMessage& message) {
    std::vector<std::string> written;
    format::makeFormat(format, context)->write(message, written);
    return written;
}

TEST(Formats, TaggedSentencesCarryTimeStationAndGroupUnderTheirChecksum) {
    const FixedClock utc(true);
    const FixedClock fromStart(false);
    EXPECT_THAT(lines("tagged", {"mast1", &utc}, received(false, 288000 * 2 + 1000)),
                testing::ElementsAre("\\c:1772596633,s:mast1*09\\!AIVDM,1,1,,A,"
                                     "15RTgt0PAso;90TKcjM8h6g208CQ,0*4A"));
    // Without UTC time (a recording without its start) no c:.
    EXPECT_THAT(lines("tagged", {"keelwave", &fromStart}, received(true, 0)),
                testing::ElementsAre(testing::StartsWith("\\g:1-2-1,s:keelwave*08\\!AIVDM,2,1,2"),
                                     testing::StartsWith("\\g:2-2-1,s:keelwave*0B\\!AIVDM,2,2,2")));
    EXPECT_THAT(lines("nmea", {}, received(true, 0)),
                testing::ElementsAre(testing::StartsWith("!AIVDM,2,1,2,A,55?"),
                                     testing::StartsWith("!AIVDM,2,2,2,A,lRp")));
}

TEST(Formats, JsonGivesTheFieldsAndHowTheMessageWasReceived) {
    const FixedClock utc(true);
    const nlohmann::json object =
        nlohmann::json::parse(lines("json", {"mast1", &utc}, received(false, 144000)).at(0));
    EXPECT_EQ(object["mmsi"], 371798000);
    EXPECT_EQ(object["lat"], 48.381633);
    for (const auto& [member, value] : std::vector<std::pair<const char*, nlohmann::json>>{
             {"channel", "A"},
             {"toa", 1772596631.5},
             {"signal_db", -41.3},
             {"offset_hz", 312.0},
             {"offset_ppm", 1.93},
             {"station", "mast1"},
             {"chain", "classic"},
             {"nmea", {"!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A"}}}) {
        EXPECT_EQ(object[member], value) << member;
    }
    // What the chain could not measure is left out.
    ais::AisMessage unmeasured = received(false, -1);
    unmeasured.reception = {};
    const nlohmann::json bare =
        nlohmann::json::parse(lines("json", {"mast1", &utc}, unmeasured)[0]);
    for (const char* member : {"toa", "signal_db", "offset_hz", "offset_ppm"}) {
        EXPECT_FALSE(bare.contains(member)) << member;
    }
}

}  // namespace
}  // namespace keelwave::test
