#include "ais/fields/application_texts.hpp"
#include "ais/fields/field_texts.hpp"
#include "ais/fields/hydro_tables.hpp"
#include "ais/fields/message_tables.hpp"

// The binary applications of types 6 and 8 whose fields gpsd decodes and that real traffic
// carries, found by DAC (designated area code) and FI (function identifier). The rest keep
// their data as bits and hex. Offsets count from the start of the message: the application's
// fields begin at bit 88 in type 6 and at bit 56 in type 8.

namespace keelwave::ais {

namespace {

/// Aid to navigation monitoring (type 6, DAC 235 and 250, FI 10): voltages in 0.05 V.
constexpr Scale twentiethsOfVolt{false, 0, 20, 2};

constexpr FieldRow atonMonitoringFields[] = {
    flagAt("off_pos", 131),
    flagAt("alarm", 122),
    unsignedAt("stat_ext", 123, 8),
    scaledAt("ana_int", 88, 10, twentiethsOfVolt),
    scaledAt("ana_ext1", 98, 10, twentiethsOfVolt),
    scaledAt("ana_ext2", 108, 10, twentiethsOfVolt),
    codeAt("racon", 118, 2, raconStatusText),
    codeAt("light", 120, 2, lightStatusText),
};

/// Persons on board of an inland vessel (type 6, DAC 200, FI 55).
constexpr FieldRow personsOnBoardFields[] = {
    unsignedAt("crew", 88, 8),
    unsignedAt("passengers", 96, 13),
    unsignedAt("personnel", 109, 8),
};

/// Inland ship static and voyage data (type 8, DAC 200, FI 10): length and beam in 0.1 m,
/// draught in 0.01 m, all printed raw as gpsd does.
constexpr FieldRow inlandStaticFields[] = {
    textAt("vin", 56, 8),
    unsignedAt("length", 104, 13),
    unsignedAt("beam", 117, 10),
    codeAt("shiptype", 127, 14, inlandShipTypeText),
    codeAt("hazard", 141, 3, inlandHazardText),
    unsignedAt("draught", 144, 11),
    codeAt("loaded", 155, 2, inlandLoadText),
    flagAt("speed_q", 157),
    flagAt("course_q", 158),
    flagAt("heading_q", 159),
};

/// Dangerous cargo indication (type 6, DAC 1, FI 12): ports of departure and destination.
constexpr FieldRow dangerousCargoFields[] = {
    textAt("lastport", 88, 5),    timeAt("departure", 118, FieldKind::monthDayTime),
    textAt("nextport", 138, 5),   timeAt("eta", 168, FieldKind::monthDayTime),
    textAt("dangerous", 188, 20), textAt("imdcat", 308, 4),
    unsignedAt("unid", 332, 13),  unsignedAt("amount", 345, 10),
    unsignedAt("unit", 355, 2),
};

/// Clearance time to enter port (type 6, DAC 1, FI 18).
constexpr FieldRow clearanceFields[] = {
    unsignedAt("linkage", 88, 10),
    timeAt("arrival", 98, FieldKind::monthDayTime),
    textAt("portname", 118, 20),
    textAt("destination", 238, 5),
    scaledAt("lon", 268, 25, thousandthMinutes),
    scaledAt("lat", 293, 24, thousandthMinutes),
};

/// Text description, addressed (type 6, DAC 1, FI 30).
constexpr FieldRow textDescriptionFields[] = {
    unsignedAt("linkage", 88, 10),
    textToEnd("text", 98),
};

/// Tidal windows (type 6, DAC 1, FI 14 and 32): up to three, each a position, a time span and
/// the current's direction in degrees and speed in 0.1 knot. Offsets within one window.
constexpr FieldRow tidalWindow14Fields[] = {
    scaledAt("lon", 27, 28, thousandthMinutes),
    scaledAt("lat", 0, 27, thousandthMinutes),
    unsignedAt("from_hour", 55, 5),
    unsignedAt("from_min", 60, 6),
    unsignedAt("to_hour", 66, 5),
    unsignedAt("to_min", 71, 6),
    unsignedAt("cdir", 77, 9),
    scaledAt("cspeed", 86, 7, tenths),
};
constexpr FieldTable tidalWindow14 = tableOf(tidalWindow14Fields);
constexpr FieldRow tidalWindows14Fields[] = {
    unsignedAt("month", 88, 4),
    unsignedAt("day", 92, 5),
    groupAt("tidals", 97, 93, 3, &tidalWindow14),
};

constexpr FieldRow tidalWindow32Fields[] = {
    scaledAt("lon", 0, 25, thousandthMinutes),
    scaledAt("lat", 25, 24, thousandthMinutes),
    unsignedAt("from_hour", 49, 5),
    unsignedAt("from_min", 54, 6),
    unsignedAt("to_hour", 60, 5),
    unsignedAt("to_min", 65, 6),
    unsignedAt("cdir", 71, 9),
    scaledAt("cspeed", 80, 8, tenths),
};
constexpr FieldTable tidalWindow32 = tableOf(tidalWindow32Fields);
constexpr FieldRow tidalWindows32Fields[] = {
    unsignedAt("month", 88, 4),
    unsignedAt("day", 92, 5),
    groupAt("tidals", 97, 88, 3, &tidalWindow32),
};

// An application is known by its message type, DAC and FI, and by a length that fits its
// layout: senders pad to whole slots, but a message longer by more than a byte of padding is
// something else under the same numbers, and keeps its data.
struct Application {
    uint32_t type;
    uint32_t dac;
    uint32_t fid;
    int32_t layoutBits;  ///< the whole message with every field (and repeat)
    FieldTable fields;
};

constexpr int32_t paddingBits = 8;

const Application applications[] = {
    {6, 1, 12, 360, tableOf(dangerousCargoFields)},
    {6, 1, 14, 376, tableOf(tidalWindows14Fields)},
    {6, 1, 18, 360, tableOf(clearanceFields)},
    {6, 1, 30, 1008, tableOf(textDescriptionFields)},
    {6, 1, 32, 360, tableOf(tidalWindows32Fields)},
    {6, 200, 55, 168, tableOf(personsOnBoardFields)},
    {6, 235, 10, 136, tableOf(atonMonitoringFields)},
    {6, 250, 10, 136, tableOf(atonMonitoringFields)},
    {8, 1, 11, 352, meteoHydro11Layout()},
    {8, 1, 31, 360, meteoHydro31Layout()},
    {8, 200, 10, 168, tableOf(inlandStaticFields)},
};

constexpr int16_t dacBits = 10;
constexpr int16_t fidBits = 6;

}  // namespace

FieldTable applicationLayout(const PayloadBits& bits, uint32_t type) {
    const int16_t dacOffset = type == 6 ? 72 : 40;
    if (!holdsField(bits, dacOffset, dacBits + fidBits)) {
        return {};
    }
    const uint32_t dac = readUnsigned(bits, dacOffset, dacBits);
    const uint32_t fid = readUnsigned(bits, dacOffset + dacBits, fidBits);
    for (const Application& application : applications) {
        if (application.type == type && application.dac == dac && application.fid == fid &&
            bits.bitCount <= application.layoutBits + paddingBits) {
            return application.fields;
        }
    }
    return {};
}

}  // namespace keelwave::ais
