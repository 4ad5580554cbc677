// Hand-checked cases the real corpus does not hold or gpsd does not settle: short messages,
// coordinates west and south, "not available" values, text padding, type 21's name extension,
// type 24's parts, binary data, and payload text that is no payload.
#include "ais/fields/message_fields.hpp"
#include "ais/fields/payload_bits.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace keelwave::test {
namespace {

using Json = nlohmann::ordered_json;

/// One field to set: `width` bits of `value` at `offset`, or six-bit `text` of `width` chars.
struct Put {
    int offset;
    int width;
    int64_t value;
    const char* text = nullptr;
};

struct FieldCase {
    const char* what;
    int type;
    int length;  ///< message bits
    std::vector<Put> puts;
    const char* expected;             ///< members that must have exactly these values
    std::vector<const char*> absent;  ///< members that must not be there
};

/// Six-bit code of an ASCII character: '@'..'_' are 0..31, ' '..'?' 32..63.
int64_t sixBit(char character) {
    return character >= '@' ? character - '@' : character;
}

Json decodeCase(const FieldCase& row) {
    std::vector<uint8_t> bits(static_cast<std::size_t>(row.length), 0);
    auto put = [&bits](int offset, int width, int64_t value) {
        for (int i = 0; i < width && offset + i < static_cast<int>(bits.size()); ++i) {
            bits[static_cast<std::size_t>(offset + i)] = (value >> (width - 1 - i)) & 1;
        }
    };
    put(0, 6, row.type);
    put(8, 30, 123456789);
    for (const Put& field : row.puts) {
        if (field.text == nullptr) {
            put(field.offset, field.width, field.value);
            continue;
        }
        const std::string text = field.text;
        for (int i = 0; i < field.width; ++i) {
            put(field.offset + 6 * i, 6, i < static_cast<int>(text.size()) ? sixBit(text[i]) : 0);
        }
    }
    std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        bytes[i / 8] |= static_cast<uint8_t>(bits[i] << (7 - i % 8));
    }
    return ais::decodeMessageFields(bytes.data(), row.length);
}

// One case a line: what, type, bits, fields set {offset, width, value or text}, members
// expected, members absent.
// clang-format off
const FieldCase fieldCases[] = {
    {"west and south", 1, 168, {{61, 28, -74037230}, {89, 27, -20000000}},
     R"({"lon":-123.395383,"lat":-33.333333})", {}},
    {"class A not available", 1, 168, {{42, 8, -128}, {50, 10, 1023}, {61, 28, 108600000},
                                       {89, 27, 54600000}, {116, 12, 3600}, {128, 9, 511}},
     R"({"turn":"nan","speed":"nan","lon":181.0,"lat":91.0,"course":360.0,"heading":511})", {}},
    {"turning 35 degrees a minute to port", 2, 168, {{42, 8, -28}}, R"({"turn":-35})", {}},
    {"cut inside the latitude", 1, 100, {{61, 28, 1}}, R"({"accuracy":false,"lon":0.000002})",
     {"lat", "course", "heading", "raim", "radio"}},
    {"one bit short of the radio status", 1, 167, {{148, 1, 1}}, R"({"raim":true})", {"radio"}},
    {"text cut at the first @, trailing blanks dropped", 5, 424,
     {{112, 20, 0, "AB@CD"}, {70, 7, 0, "  X  "}, {302, 20, 0, "@"}},
     R"({"callsign":"  X","shipname":"AB","destination":""})", {}},
    {"aid name and extension", 21, 290, {{43, 20, 0, "ABCDEFGHIJKLMNOPQRST"}, {272, 3, 0, "XYZ"}},
     R"({"name":"ABCDEFGHIJKLMNOPQRSTXYZ"})", {}},
    {"aid name padded before its extension", 21, 290, {{43, 20, 0, "SHORT"}, {272, 3, 0, "XYZ"}},
     R"({"name":"SHORT"})", {}},
    {"auxiliary craft's part B", 24, 168, {{8, 30, 981234567}, {38, 2, 1}, {132, 30, 211000000}},
     R"({"mmsi":981234567,"part":"B","mothership_mmsi":211000000})", {"to_bow"}},
    {"undefined part 3", 24, 168, {{38, 2, 3}}, R"({"scaled":true})", {"part", "shipname"}},
    {"addressed binary, 12 data bits", 6, 100, {{72, 10, 366}, {82, 6, 56}, {88, 12, 0xABC}},
     R"({"dac":366,"fid":56,"data":"12:abc0"})", {}},
    {"broadcast binary cut in its FI", 8, 52, {{40, 10, 1}}, R"({"dac":1})", {"fid", "data"}},
    {"meteorological data below zero", 8, 360, {{40, 10, 1}, {50, 6, 31}, {154, 11, -1},
                                                {201, 12, 995}},
     R"({"airtemp":-0.1,"waterlevel":-0.05})", {"data"}},
    {"multiple slot binary, radio status last", 26, 128,
     {{38, 2, 3}, {40, 30, 2}, {72, 16, 7}, {88, 20, 0xFFFFF}, {108, 20, 12345}},
     R"({"dest_mmsi":2,"app_id":7,"data":"20:fffff0","radio":12345})", {}},
    {"one assigned station", 16, 96, {{40, 30, 1}, {92, 4, 15}}, R"({"mmsi1":1})", {"mmsi2"}},
    {"channel management cut before its addressed flag", 22, 120, {{69, 18, 600}},
     R"({"power":false})", {"ne_lon", "dest1", "addressed"}},
};
// clang-format on

TEST(MessageFields, HandCheckedCases) {
    for (const FieldCase& row : fieldCases) {
        const Json fields = decodeCase(row);
        const Json expected = Json::parse(row.expected);
        for (const auto& [member, value] : expected.items()) {
            EXPECT_EQ(fields.value(member, Json()), value) << row.what << ": " << member;
        }
        for (const char* member : row.absent) {
            EXPECT_FALSE(fields.contains(member)) << row.what << ": " << member;
        }
    }
}

TEST(MessageFields, HeaderAloneForUnknownTypesAndShortMessages) {
    const uint8_t type28[5] = {28 << 2, 0, 0, 0, 0};
    EXPECT_EQ(ais::decodeMessageFields(type28, 40).dump(),
              R"({"class":"AIS","type":28,"repeat":0,"mmsi":0,"scaled":true})");
    EXPECT_EQ(ais::decodeMessageFields(type28, 20).dump(),
              R"({"class":"AIS","type":28,"repeat":0})");
    EXPECT_EQ(ais::decodeMessageFields(type28, 0).dump(), R"({"class":"AIS"})");
}

TEST(MessageFields, ArmouredPayloadGivesGpsdsObjectMemberForMember) {
    const auto fields = ais::decodeArmouredMessage("15RTgt0PAso;90TKcjM8h6g208CQ", 0);
    ASSERT_TRUE(fields.has_value());
    // gpsdecode's line for this sentence, less its "device".
    EXPECT_EQ(fields->dump(),
              R"({"class":"AIS","type":1,"repeat":0,"mmsi":371798000,"scaled":true,"status":0,)"
              R"("status_text":"Under way using engine","turn":"fastleft","speed":12.3,)"
              R"("accuracy":true,"lon":-123.395383,"lat":48.381633,"course":224.0,)"
              R"("heading":215,"second":33,"maneuver":0,"raim":false,"radio":34017})");
}

TEST(PayloadBits, PacksArmourMostSignificantBitFirstAndRefusesWhatIsNoPayload) {
    const auto packed = ais::packArmouredPayload("1w", 0);
    ASSERT_TRUE(packed.has_value());
    EXPECT_EQ(packed->bitCount, 12);
    EXPECT_EQ(packed->bytes, (std::vector<uint8_t>{0x07, 0xF0}));  // 000001 111111
    const auto filled = ais::packArmouredPayload("w", 2);          // fill bits are zeros
    ASSERT_TRUE(filled.has_value());
    EXPECT_EQ(filled->bitCount, 4);
    EXPECT_EQ(filled->bytes, (std::vector<uint8_t>{0xF0}));
    EXPECT_FALSE(ais::packArmouredPayload("1X", 0));  // between 'W' and '`'
    EXPECT_FALSE(ais::packArmouredPayload("1x", 0));  // past 'w'
    EXPECT_FALSE(ais::packArmouredPayload("1w", 6));
    EXPECT_FALSE(ais::packArmouredPayload("", 1));
    EXPECT_FALSE(ais::decodeArmouredMessage("15RT,", 0));
}

}  // namespace
}  // namespace keelwave::test
