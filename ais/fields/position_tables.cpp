#include "ais/fields/field_texts.hpp"
#include "ais/fields/message_tables.hpp"

// Position reports: the class A reports (types 1-3), base station and UTC reports (4, 11), the
// SAR aircraft report (9), class B reports (18, 19), aids to navigation (21) and the long-range
// report (27). Positions are in 1/10000 minute (1/10 minute for type 27), speeds in 0.1 knot,
// courses in 0.1 degree, headings in degrees (511 not available).

namespace keelwave::ais {

namespace {

/// Type 9's altitude in metres (4095 not available) and speed in whole knots (1023).
constexpr Scale aircraftAltitude{false, 0, 1, 0, 4095};
constexpr Scale aircraftSpeed{false, 0, 1, 0, 1023};

constexpr FieldRow classAPositionFields[] = {
    codeAt("status", 38, 4, navigationStatusText),
    {"turn", 42, 8, FieldKind::turn},
    scaledAt("speed", 50, 10, knotTenths),
    flagAt("accuracy", 60),
    scaledAt("lon", 61, 28, tenThousandthMinutes),
    scaledAt("lat", 89, 27, tenThousandthMinutes),
    scaledAt("course", 116, 12, degreeTenths),
    unsignedAt("heading", 128, 9),
    unsignedAt("second", 137, 6),
    unsignedAt("maneuver", 143, 2),
    flagAt("raim", 148),
    unsignedAt("radio", 149, 19),
};

constexpr FieldRow baseStationFields[] = {
    timeAt("timestamp", 38, FieldKind::dateTime),
    flagAt("accuracy", 78),
    scaledAt("lon", 79, 28, tenThousandthMinutes),
    scaledAt("lat", 107, 27, tenThousandthMinutes),
    codeAt("epfd", 134, 4, epfdText),
    flagAt("raim", 148),
    unsignedAt("radio", 149, 19),
};

constexpr FieldRow aircraftFields[] = {
    scaledAt("alt", 38, 12, aircraftAltitude),
    scaledAt("speed", 50, 10, aircraftSpeed),
    flagAt("accuracy", 60),
    scaledAt("lon", 61, 28, tenThousandthMinutes),
    scaledAt("lat", 89, 27, tenThousandthMinutes),
    scaledAt("course", 116, 12, degreeTenths),
    unsignedAt("second", 128, 6),
    unsignedAt("regional", 134, 8),
    unsignedAt("dte", 142, 1),
    flagAt("assigned", 146),
    flagAt("raim", 147),
    unsignedAt("radio", 148, 20),
};

constexpr FieldRow classBPositionFields[] = {
    unsignedAt("reserved", 38, 8),
    scaledAt("speed", 46, 10, knotTenths),
    flagAt("accuracy", 56),
    scaledAt("lon", 57, 28, tenThousandthMinutes),
    scaledAt("lat", 85, 27, tenThousandthMinutes),
    scaledAt("course", 112, 12, degreeTenths),
    unsignedAt("heading", 124, 9),
    unsignedAt("second", 133, 6),
    unsignedAt("regional", 139, 2),
    flagAt("cs", 141),
    flagAt("display", 142),
    flagAt("dsc", 143),
    flagAt("band", 144),
    flagAt("msg22", 145),
    flagAt("assigned", 146),
    flagAt("raim", 147),
    unsignedAt("radio", 148, 20),
};

constexpr FieldRow classBExtendedFields[] = {
    unsignedAt("reserved", 38, 8),
    scaledAt("speed", 46, 10, knotTenths),
    flagAt("accuracy", 56),
    scaledAt("lon", 57, 28, tenThousandthMinutes),
    scaledAt("lat", 85, 27, tenThousandthMinutes),
    scaledAt("course", 112, 12, degreeTenths),
    unsignedAt("heading", 124, 9),
    unsignedAt("second", 133, 6),
    unsignedAt("regional", 139, 4),
    textAt("shipname", 143, 20),
    codeAt("shiptype", 263, 8, shipTypeText),
    unsignedAt("to_bow", 271, 9),
    unsignedAt("to_stern", 280, 9),
    unsignedAt("to_port", 289, 6),
    unsignedAt("to_starboard", 295, 6),
    codeAt("epfd", 301, 4, epfdText),
    flagAt("raim", 305),
    unsignedAt("dte", 306, 1),
    flagAt("assigned", 307),
};

/// Where type 21's name extension starts: after the fixed part of the message.
constexpr int16_t aidNameExtension = 272;

constexpr FieldRow aidToNavigationFields[] = {
    codeAt("aid_type", 38, 5, aidTypeText),
    {"name", 43, 120, FieldKind::aidName, {}, nullptr, aidNameExtension},
    scaledAt("lon", 164, 28, tenThousandthMinutes),
    scaledAt("lat", 192, 27, tenThousandthMinutes),
    flagAt("accuracy", 163),
    unsignedAt("to_bow", 219, 9),
    unsignedAt("to_stern", 228, 9),
    unsignedAt("to_port", 237, 6),
    unsignedAt("to_starboard", 243, 6),
    codeAt("epfd", 249, 4, epfdText),
    unsignedAt("second", 253, 6),
    unsignedAt("regional", 260, 8),
    flagAt("off_position", 259),
    flagAt("raim", 268),
    flagAt("virtual_aid", 269),
    flagAt("assigned", 270),
};

constexpr FieldRow longRangeFields[] = {
    codeTextAt("status", 40, 4, navigationStatusText),
    flagAt("accuracy", 38),
    scaledAt("lon", 44, 18, tenthMinutes),
    scaledAt("lat", 62, 17, tenthMinutes),
    unsignedAt("speed", 79, 6),   // knots, 63 not available
    unsignedAt("course", 85, 9),  // degrees, 511 not available
    flagAt("raim", 39),
    flagAt("gnss", 94),
};

}  // namespace

FieldTable positionLayout(const PayloadBits& /*bits*/, uint32_t type) {
    switch (type) {
        case 1:
        case 2:
        case 3:
            return tableOf(classAPositionFields);
        case 4:
        case 11:
            return tableOf(baseStationFields);
        case 9:
            return tableOf(aircraftFields);
        case 18:
            return tableOf(classBPositionFields);
        case 19:
            return tableOf(classBExtendedFields);
        case 21:
            return tableOf(aidToNavigationFields);
        case 27:
            return tableOf(longRangeFields);
        default:
            return {};
    }
}

}  // namespace keelwave::ais
