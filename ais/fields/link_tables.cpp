#include "ais/fields/field_texts.hpp"
#include "ais/fields/message_tables.hpp"

// Link management: acknowledgements (types 7, 13), the UTC inquiry (10), interrogations (15),
// assigned mode (16), data link reservations (20), channel management (22) and group
// assignment (23). Slot offsets and increments are in slots; corner positions of a region are
// in 1/10 minute.

namespace keelwave::ais {

namespace {

// Each acknowledged MMSI is followed by two bits of its message's sequence number.
constexpr FieldRow acknowledgeFields[] = {
    unsignedAt("mmsi1", 40, 30),
    unsignedAt("mmsi2", 72, 30),
    unsignedAt("mmsi3", 104, 30),
    unsignedAt("mmsi4", 136, 30),
};

constexpr FieldRow utcInquiryFields[] = {
    unsignedAt("dest_mmsi", 40, 30),
};

constexpr FieldRow interrogationFields[] = {
    unsignedAt("mmsi1", 40, 30),     unsignedAt("type1_1", 70, 6),
    unsignedAt("offset1_1", 76, 12), unsignedAt("type1_2", 90, 6),
    unsignedAt("offset1_2", 96, 12), unsignedAt("mmsi2", 110, 30),
    unsignedAt("type2_1", 140, 6),   unsignedAt("offset2_1", 146, 12),
};

// One assigned station (96 bits with the spare) or two (144 bits); the message's length says
// which.
constexpr FieldRow assignedModeFields[] = {
    unsignedAt("mmsi1", 40, 30), unsignedAt("offset1", 70, 12),  unsignedAt("increment1", 82, 10),
    unsignedAt("mmsi2", 92, 30), unsignedAt("offset2", 122, 12), unsignedAt("increment2", 134, 10),
};
constexpr int32_t twoAssignmentsBits = 144;
constexpr std::size_t oneAssignmentRows = 3;

// Four reservations of 30 bits: first slot, number of slots, time-out in minutes, increment.
constexpr FieldRow reservationFields[] = {
    unsignedAt("offset1", 40, 12),  unsignedAt("number1", 52, 4),
    unsignedAt("timeout1", 56, 3),  unsignedAt("increment1", 59, 11),
    unsignedAt("offset2", 70, 12),  unsignedAt("number2", 82, 4),
    unsignedAt("timeout2", 86, 3),  unsignedAt("increment2", 89, 11),
    unsignedAt("offset3", 100, 12), unsignedAt("number3", 112, 4),
    unsignedAt("timeout3", 116, 3), unsignedAt("increment3", 119, 11),
    unsignedAt("offset4", 130, 12), unsignedAt("number4", 142, 4),
    unsignedAt("timeout4", 146, 3), unsignedAt("increment4", 149, 11),
};

/// Type 22's flag that says whether bits 69..138 are a region or two addressed stations.
constexpr int16_t channelAddressedOffset = 139;

/// What both layouts of type 22 share, for a message too short to say which it is.
constexpr FieldRow channelCommonFields[] = {
    unsignedAt("channel_a", 40, 12),
    unsignedAt("channel_b", 52, 12),
    unsignedAt("txrx", 64, 4),
    flagAt("power", 68),
};

constexpr FieldRow channelRegionFields[] = {
    unsignedAt("channel_a", 40, 12),
    unsignedAt("channel_b", 52, 12),
    unsignedAt("txrx", 64, 4),
    flagAt("power", 68),
    scaledAt("ne_lon", 69, 18, tenthMinutes),
    scaledAt("ne_lat", 87, 17, tenthMinutes),
    scaledAt("sw_lon", 104, 18, tenthMinutes),
    scaledAt("sw_lat", 122, 17, tenthMinutes),
    flagAt("addressed", channelAddressedOffset),
    flagAt("band_a", 140),
    flagAt("band_b", 141),
    unsignedAt("zonesize", 142, 3),
};

constexpr FieldRow channelAddressedFields[] = {
    unsignedAt("channel_a", 40, 12),
    unsignedAt("channel_b", 52, 12),
    unsignedAt("txrx", 64, 4),
    flagAt("power", 68),
    unsignedAt("dest1", 69, 30),
    unsignedAt("dest2", 104, 30),
    flagAt("addressed", channelAddressedOffset),
    flagAt("band_a", 140),
    flagAt("band_b", 141),
    unsignedAt("zonesize", 142, 3),
};

constexpr FieldRow groupAssignmentFields[] = {
    scaledAt("ne_lon", 40, 18, tenthMinutes),
    scaledAt("ne_lat", 58, 17, tenthMinutes),
    scaledAt("sw_lon", 75, 18, tenthMinutes),
    scaledAt("sw_lat", 93, 17, tenthMinutes),
    codeAt("stationtype", 110, 4, stationTypeText),
    codeAt("shiptype", 114, 8, shipTypeText),
    unsignedAt("txrx", 144, 2),
    unsignedAt("interval", 146, 4),
    unsignedAt("quiet", 150, 4),
};

}  // namespace

FieldTable linkLayout(const PayloadBits& bits, uint32_t type) {
    switch (type) {
        case 7:
        case 13:
            return tableOf(acknowledgeFields);
        case 10:
            return tableOf(utcInquiryFields);
        case 15:
            return tableOf(interrogationFields);
        case 16: {
            const FieldTable both = tableOf(assignedModeFields);
            return bits.bitCount >= twoAssignmentsBits
                       ? both
                       : FieldTable{both.begin, both.begin + oneAssignmentRows};
        }
        case 20:
            return tableOf(reservationFields);
        case 22:
            if (!holdsField(bits, channelAddressedOffset, 1)) {
                return tableOf(channelCommonFields);
            }
            return readUnsigned(bits, channelAddressedOffset, 1) != 0
                       ? tableOf(channelAddressedFields)
                       : tableOf(channelRegionFields);
        case 23:
            return tableOf(groupAssignmentFields);
        default:
            return {};
    }
}

}  // namespace keelwave::ais
