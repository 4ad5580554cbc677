#include "tools/transmitter/nmea_input.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace transmitter;
using testing::HasSubstr;

namespace {

// Real sentences from tests/data/real-aivdm-sample.nmea.
const char* const kType1 = "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A";
const char* const kType5First =
    "!AIVDM,2,1,1,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1C";
const char* const kType5Second = "!AIVDM,2,2,1,A,88888888880,2*25";

std::uint64_t field(const Bits& bits, std::size_t first, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t index = first; index < first + width; ++index) {
        value = value * 2 + bits.at(index);
    }
    return value;
}

std::int64_t signedField(const Bits& bits, std::size_t first, std::size_t width) {
    const std::uint64_t raw = field(bits, first, width);
    return bits[first] != 0 ? static_cast<std::int64_t>(raw) - (std::int64_t{1} << width)
                            : static_cast<std::int64_t>(raw);
}

NmeaReadReport readText(const std::string& text) {
    std::istringstream in(text);
    return readNmeaMessages(in);
}

}  // namespace

TEST(ParseNmeaSentence, SplitsTheFieldsOfRealSentences) {
    struct Case {
        const char* line;
        const char* talker;
        const char* formatter;
        int count, number;
        const char* sequenceId;
        char channel;
        std::size_t payloadLength;
        int fill;
    } cases[] = {
        {kType1, "AI", "VDM", 1, 1, "", 'A', 28, 0},
        {kType5First, "AI", "VDM", 2, 1, "1", 'A', 60, 0},
        {"!BSVDM,1,1,,A,D02R3cQk8Nfr:hO6D0,4*78\r\n", "BS", "VDM", 1, 1, "", 'A', 18, 4},
        {"!BSVDO,1,1,,,402HW4QuaUcfHODD9vMP26i00000,0*7C", "BS", "VDO", 1, 1, "", 0, 28, 0},
        {"!SSVDO,1,1,,B,Dh2=aCiDlN?`00N01>9N000,2*4A", "SS", "VDO", 1, 1, "", 'B', 23, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const NmeaSentence sentence = parseNmeaSentence(c.line);
        EXPECT_EQ(sentence.talker, c.talker);
        EXPECT_EQ(sentence.formatter, c.formatter);
        EXPECT_EQ(sentence.fragmentCount, c.count);
        EXPECT_EQ(sentence.fragmentNumber, c.number);
        EXPECT_EQ(sentence.sequenceId, c.sequenceId);
        EXPECT_EQ(sentence.channel, c.channel);
        EXPECT_EQ(sentence.payload.size(), c.payloadLength);
        EXPECT_EQ(sentence.fillBits, c.fill);
    }
}

TEST(ParseNmeaSentence, RejectsMalformedSentencesWithAReason) {
    struct Case {
        const char* line;
        const char* reason;
    } cases[] = {
        {"!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4B", "bad checksum"},
        {"!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CR,0*4A", "bad checksum"},
        {"!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0", "checksum"},
        {"$GPGGA,1,2*00", "no leading '!'"},
        {"!AIVDM,1,1,,A,15RT,0,0*38", "7 fields"},
        {"!AIXDR,1,1,,A,15RT,0*35", "not a VDM/VDO"},
        {"!AIVDM,1,2,,A,15RT,0*27", "fragment number"},
        {"!AIVDM,1,1,,C,15RT,0*26", "channel"},
        {"!AIVDM,1,1,,A,15RT,6*22", "fill bits"},
        {"!AIVDM,1,1,,A,15RX,0*28", "invalid payload character 'X'"},
    };
    for (const Case& c : cases) {
        try {
            parseNmeaSentence(c.line);
            ADD_FAILURE() << "accepted " << c.line;
        } catch (const NmeaError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.reason)) << c.line;
        }
    }
}

TEST(ParseNmeaSentence, AcceptsALowercaseChecksum) {
    EXPECT_EQ(parseNmeaSentence("!AIVDM,1,1,,A,403OviQuMGCqWrRO9>E6fE700@GO,0*4d").channel, 'A');
}

TEST(Dearmour, DecodesThePositionReportOfARealType1Message) {
    const NmeaReadReport report = readText(kType1);
    ASSERT_EQ(report.messages.size(), 1u);
    const Bits& bits = report.messages[0].bits;
    ASSERT_EQ(bits.size(), 168u);
    EXPECT_EQ(field(bits, 0, 6), 1u);           // message identifier
    EXPECT_EQ(field(bits, 8, 30), 371798000u);  // MMSI
    EXPECT_EQ(field(bits, 50, 10), 123u);       // speed over ground, 0.1 knot
    // Longitude and latitude in 1/10000 minute: 123.3954 W, 48.3816 N (Juan de Fuca Strait).
    EXPECT_EQ(signedField(bits, 61, 28), -74037230);
    EXPECT_EQ(signedField(bits, 89, 27), 29028980);
}

TEST(Dearmour, DropsTheFillBitsAndRejectsTooManyOfThem) {
    EXPECT_EQ(dearmourPayload("w", 0), (Bits{1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(dearmourPayload("W`", 5), (Bits{1, 0, 0, 1, 1, 1, 1}));
    EXPECT_THROW(dearmourPayload("", 1), NmeaError);
}

TEST(MessageAssembly, JoinsATwoSentenceStaticReport) {
    const NmeaReadReport report = readText(std::string(kType5First) + "\n" + kType5Second + "\n");
    ASSERT_EQ(report.messages.size(), 1u);
    EXPECT_TRUE(report.problems.empty());
    const Bits& bits = report.messages[0].bits;
    ASSERT_EQ(bits.size(), 424u);  // 71 characters less 2 fill bits
    EXPECT_EQ(field(bits, 0, 6), 5u);
    EXPECT_EQ(field(bits, 8, 30), 351759000u);
    std::string name;
    for (std::size_t first = 112; first < 232; first += 6) {
        const auto code = static_cast<int>(field(bits, first, 6));
        name += static_cast<char>(code < 32 ? code + 64 : code);  // AIS six-bit text
    }
    EXPECT_EQ(name, "EVER DIADEM         ");
}

TEST(MessageAssembly, HandlesOutOfOrderInterleavedAndIncompleteGroups) {
    const std::string type5B1 =
        "!AIVDM,2,1,3,B,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1D";
    const std::string type5B2 = "!AIVDM,2,2,3,B,88888888880,2*24";
    const std::string text = std::string(kType5Second) + "\n" +  // out of order
                             type5B1 + "\n" +                    // other group interleaved
                             kType5First + "\n" +                // completes group 1 on A
                             kType1 + "\n" +                     // single message in between
                             kType5First + "\n" +                // a new group 1 on A...
                             type5B2 + "\n" +                    // completes group 3 on B
                             kType5First + "\n";  // ...repeated: the previous one is dropped
    const NmeaReadReport report = readText(text);
    EXPECT_EQ(report.sentences, 7u);
    ASSERT_EQ(report.messages.size(), 3u);
    EXPECT_EQ(report.messages[0].bits.size(), 424u);
    EXPECT_EQ(report.messages[0].firstLine, 1u);
    EXPECT_EQ(report.messages[1].bits.size(), 168u);
    EXPECT_EQ(report.messages[2].channel, 'B');
    EXPECT_EQ(report.messages[2].bits, report.messages[0].bits);
    ASSERT_EQ(report.problems.size(), 2u);
    EXPECT_THAT(report.problems[0], HasSubstr("line 5: incomplete 2-sentence group"));
    EXPECT_THAT(report.problems[1], HasSubstr("line 7: incomplete"));
    EXPECT_THAT(report.problems[1], HasSubstr("fragment(s) 2 missing"));
}

TEST(MessageAssembly, ReportsBadLinesByNumberAndReadsOn) {
    const NmeaReadReport report =
        readText(std::string("# comment\n\n") +
                 "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4B\n" + kType1 + "\n");
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_THAT(report.problems[0], HasSubstr("line 3: bad checksum"));
    EXPECT_EQ(report.messages.size(), 1u);
    EXPECT_EQ(report.messages[0].firstLine, 4u);
}

TEST(MessageAssembly, ReadsTheWholeRealSample) {
    std::ifstream file(TEST_DATA_DIR "/real-aivdm-sample.nmea");
    ASSERT_TRUE(file);
    const NmeaReadReport report = readNmeaMessages(file);
    EXPECT_EQ(report.sentences, 298u);
    EXPECT_EQ(report.messages.size(), 261u);
    EXPECT_TRUE(report.problems.empty());
}
