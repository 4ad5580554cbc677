#include "ais/fields/message_tables.hpp"

// Messages that carry text or binary data: addressed and broadcast binary messages (types 6,
// 8), safety-related text (12, 14), GNSS corrections (17) and the single and multiple slot
// binary messages (25, 26). Data that no decoded application claims is printed as gpsd does:
// its bit count, a colon and its bytes in hexadecimal.

namespace keelwave::ais {

namespace {

constexpr FieldRow addressedBinaryHeader[] = {
    unsignedAt("seqno", 38, 2), unsignedAt("dest_mmsi", 40, 30), flagAt("retransmit", 70),
    unsignedAt("dac", 72, 10),  unsignedAt("fid", 82, 6),
};
constexpr FieldRow addressedBinaryData[] = {dataToEnd("data", 88)};

constexpr FieldRow broadcastBinaryHeader[] = {
    unsignedAt("dac", 40, 10),
    unsignedAt("fid", 50, 6),
};
constexpr FieldRow broadcastBinaryData[] = {dataToEnd("data", 56)};

constexpr FieldRow addressedSafetyFields[] = {
    unsignedAt("seqno", 38, 2),
    unsignedAt("dest_mmsi", 40, 30),
    flagAt("retransmit", 70),
    textToEnd("text", 72),
};

constexpr FieldRow broadcastSafetyFields[] = {textToEnd("text", 40)};

constexpr FieldRow correctionFields[] = {
    scaledAt("lon", 40, 18, tenthMinutes),
    scaledAt("lat", 58, 17, tenthMinutes),
    dataToEnd("data", 80),
};

// Types 25 and 26 begin with two flags: addressed (a 30-bit destination MMSI and 2 spare bits
// follow) and structured (a 16-bit application identifier follows). gpsd prints both members
// always, 0 where the message has no such field. Type 26 ends with 20 bits of radio status.
constexpr int16_t addressedFlagOffset = 38;
constexpr int16_t structuredFlagOffset = 39;
constexpr int16_t radioBits = 20;

constexpr FieldRow singleSlotFields[4][5] = {
    {flagAt("addressed", 38), flagAt("structured", 39), zeroFor("dest_mmsi"), zeroFor("app_id"),
     dataToEnd("data", 40)},
    {flagAt("addressed", 38), flagAt("structured", 39), zeroFor("dest_mmsi"),
     unsignedAt("app_id", 40, 16), dataToEnd("data", 56)},
    {flagAt("addressed", 38), flagAt("structured", 39), unsignedAt("dest_mmsi", 40, 30),
     zeroFor("app_id"), dataToEnd("data", 72)},
    {flagAt("addressed", 38), flagAt("structured", 39), unsignedAt("dest_mmsi", 40, 30),
     unsignedAt("app_id", 72, 16), dataToEnd("data", 88)},
};

constexpr FieldRow multipleSlotFields[4][6] = {
    {flagAt("addressed", 38), flagAt("structured", 39), zeroFor("dest_mmsi"), zeroFor("app_id"),
     dataToEnd("data", 40, radioBits), lastBitsOf("radio", radioBits, 40)},
    {flagAt("addressed", 38), flagAt("structured", 39), zeroFor("dest_mmsi"),
     unsignedAt("app_id", 40, 16), dataToEnd("data", 56, radioBits),
     lastBitsOf("radio", radioBits, 56)},
    {flagAt("addressed", 38), flagAt("structured", 39), unsignedAt("dest_mmsi", 40, 30),
     zeroFor("app_id"), dataToEnd("data", 72, radioBits), lastBitsOf("radio", radioBits, 72)},
    {flagAt("addressed", 38), flagAt("structured", 39), unsignedAt("dest_mmsi", 40, 30),
     unsignedAt("app_id", 72, 16), dataToEnd("data", 88, radioBits),
     lastBitsOf("radio", radioBits, 88)},
};

/// 0..3 from the addressed and structured flags; a message too short for them reads 0.
int slotBinaryVariant(const PayloadBits& bits) {
    if (!holdsField(bits, addressedFlagOffset, 2)) {
        return 0;
    }
    return static_cast<int>(readUnsigned(bits, addressedFlagOffset, 2));
}

}  // namespace

MessageLayout binaryLayout(const PayloadBits& bits, uint32_t type) {
    switch (type) {
        case 6:
        case 8: {
            const bool addressed = type == 6;
            const FieldTable application = applicationLayout(bits, type);
            const FieldTable data =
                addressed ? tableOf(addressedBinaryData) : tableOf(broadcastBinaryData);
            return {addressed ? tableOf(addressedBinaryHeader) : tableOf(broadcastBinaryHeader),
                    application.begin != application.end ? application : data};
        }
        case 12:
            return {tableOf(addressedSafetyFields), {}};
        case 14:
            return {tableOf(broadcastSafetyFields), {}};
        case 17:
            return {tableOf(correctionFields), {}};
        case 25:
            return {tableOf(singleSlotFields[slotBinaryVariant(bits)]), {}};
        case 26:
            return {tableOf(multipleSlotFields[slotBinaryVariant(bits)]), {}};
        default:
            return {};
    }
}

}  // namespace keelwave::ais
