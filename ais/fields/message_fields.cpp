#include "ais/fields/message_fields.hpp"

#include "ais/fields/field_decoder.hpp"
#include "ais/fields/message_tables.hpp"

namespace keelwave::ais {

namespace {

constexpr FieldRow headerFields[] = {
    unsignedAt("type", 0, 6),
    unsignedAt("repeat", 6, 2),
    unsignedAt("mmsi", 8, 30),
};

constexpr int16_t typeBits = 6;
constexpr uint32_t lastMessageType = 27;

MessageLayout layoutOf(const PayloadBits& bits, uint32_t type) {
    switch (type) {
        case 5:
        case 24:
            return {voyageLayout(bits, type), {}};
        case 7:
        case 10:
        case 13:
        case 15:
        case 16:
        case 20:
        case 22:
        case 23:
            return {linkLayout(bits, type), {}};
        case 6:
        case 8:
        case 12:
        case 14:
        case 17:
        case 25:
        case 26:
            return binaryLayout(bits, type);
        default:
            return {positionLayout(bits, type), {}};
    }
}

}  // namespace

nlohmann::ordered_json decodeMessageFields(const uint8_t* bytes, int32_t bitCount) {
    const PayloadBits bits{bytes, bitCount};
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    fields["class"] = "AIS";
    decodeFieldTable(bits, tableOf(headerFields), 0, fields);
    if (!holdsField(bits, 0, headerBits)) {
        return fields;
    }
    fields["scaled"] = true;
    const uint32_t type = readUnsigned(bits, 0, typeBits);
    if (type == 0 || type > lastMessageType) {
        return fields;
    }
    const MessageLayout layout = layoutOf(bits, type);
    decodeFieldTable(bits, layout.first, 0, fields);
    decodeFieldTable(bits, layout.second, 0, fields);
    return fields;
}

std::optional<nlohmann::ordered_json> decodeArmouredMessage(std::string_view payload,
                                                            int fillBits) {
    const std::optional<PackedPayload> packed = packArmouredPayload(payload, fillBits);
    if (!packed) {
        return std::nullopt;
    }
    return decodeMessageFields(packed->bytes.data(), packed->bitCount);
}

}  // namespace keelwave::ais
