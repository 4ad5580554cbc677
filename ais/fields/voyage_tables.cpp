#include "ais/fields/field_texts.hpp"
#include "ais/fields/message_tables.hpp"

// Static and voyage data: the class A report (type 5) and the class B static report (type 24)
// in its two parts. Dimensions are metres from the position reference to bow, stern, port and
// starboard; the draught is in decimetres.

namespace keelwave::ais {

namespace {

constexpr FieldRow staticVoyageFields[] = {
    unsignedAt("imo", 40, 30),
    unsignedAt("ais_version", 38, 2),
    textAt("callsign", 70, 7),
    textAt("shipname", 112, 20),
    codeAt("shiptype", 232, 8, shipTypeText),
    unsignedAt("to_bow", 240, 9),
    unsignedAt("to_stern", 249, 9),
    unsignedAt("to_port", 258, 6),
    unsignedAt("to_starboard", 264, 6),
    codeAt("epfd", 270, 4, epfdText),
    timeAt("eta", 274, FieldKind::monthDayTime),
    scaledAt("draught", 294, 8, tenths),
    textAt("destination", 302, 20),
    unsignedAt("dte", 422, 1),
};

/// Type 24's part number: 0 is part A (the name), 1 part B (the rest).
constexpr int16_t partOffset = 38;
constexpr int16_t partWidth = 2;

constexpr FieldRow staticPartAFields[] = {
    {"part", partOffset, partWidth, FieldKind::part},
    textAt("shipname", 40, 20),
};

// Part B: the vendor ID is the manufacturer's three characters, then the unit's model and
// serial number.
constexpr FieldRow staticPartBFields[] = {
    {"part", partOffset, partWidth, FieldKind::part},
    codeAt("shiptype", 40, 8, shipTypeText),
    textAt("vendorid", 48, 3),
    unsignedAt("model", 66, 4),
    unsignedAt("serial", 70, 20),
    textAt("callsign", 90, 7),
    unsignedAt("to_bow", 132, 9),
    unsignedAt("to_stern", 141, 9),
    unsignedAt("to_port", 150, 6),
    unsignedAt("to_starboard", 156, 6),
};

/// An auxiliary craft (MMSI 98XXXYYYY) sends its mother ship's MMSI instead of dimensions.
constexpr FieldRow auxiliaryPartBFields[] = {
    {"part", partOffset, partWidth, FieldKind::part},
    codeAt("shiptype", 40, 8, shipTypeText),
    textAt("vendorid", 48, 3),
    unsignedAt("model", 66, 4),
    unsignedAt("serial", 70, 20),
    textAt("callsign", 90, 7),
    unsignedAt("mothership_mmsi", 132, 30),
};

constexpr uint32_t auxiliaryCraftPrefix = 98;
constexpr uint32_t mmsiDigitsAfterPrefix = 10000000;

}  // namespace

FieldTable voyageLayout(const PayloadBits& bits, uint32_t type) {
    if (type == 5) {
        return tableOf(staticVoyageFields);
    }
    if (!holdsField(bits, partOffset, partWidth)) {
        return {};
    }
    switch (readUnsigned(bits, partOffset, partWidth)) {
        case 0:
            return tableOf(staticPartAFields);
        case 1: {
            const uint32_t mmsi = readUnsigned(bits, 8, 30);
            return mmsi / mmsiDigitsAfterPrefix == auxiliaryCraftPrefix
                       ? tableOf(auxiliaryPartBFields)
                       : tableOf(staticPartBFields);
        }
        default:
            return {};  // parts 2 and 3 are not defined
    }
}

}  // namespace keelwave::ais
