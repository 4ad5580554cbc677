#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One row of a message layout: where a field lies in the message, how its bits become a JSON
// member, and under which of gpsd's names. A layout lists its rows in the order gpsd prints
// the members, which is the order of the bits except where gpsd chose otherwise.

namespace keelwave::ais {

/// How a field's bits become a JSON value.
enum class FieldKind : uint8_t {
    unsignedInt,   ///< the raw unsigned number
    flag,          ///< one bit, true or false
    scaled,        ///< (raw + addend) / divisor, rounded to `decimals`; see Scale
    text,          ///< width / 6 six-bit characters
    textToEnd,     ///< six-bit characters from offset to the end of the message
    aidName,       ///< type 21's name: 20 characters, then its extension from `aux` to the end
    data,          ///< bits from offset to `aux` bits before the end, as "count:hex"
    code,          ///< the raw number, then a "<name>_text" member from `texts`
    codeText,      ///< the text of the raw number from `texts`, in place of the number
    turn,          ///< rate of turn: "nan", "fastleft", "fastright" or degrees per minute
    dateTime,      ///< year 14, month 4, day 5, hour 5, minute 6, second 6 bits: ISO 8601 UTC
    monthDayTime,  ///< month 4, day 5, hour 5, minute 6 bits: "MM-DDTHH:MMZ"
    dayTime,       ///< day 5, hour 5, minute 6 bits: "DDTHH:MMZ"
    part,          ///< type 24's two-bit part number as "A" or "B"
    lastBits,      ///< the unsigned number in the message's last `width` bits (type 26's radio)
    zero,          ///< a member gpsd always prints although this layout has no such field: 0
    group,         ///< `aux` repeats of `subfields`, `width` bits apart, as an array of objects
};

/// A raw value that stands for "not available" and is printed as the string "nan".
constexpr int32_t noNanValue = INT32_MIN;

/// The arithmetic of a scaled field.
struct Scale {
    bool isSigned = false;
    int32_t addend = 0;   ///< added to the raw value before dividing
    int32_t divisor = 1;  ///< raw units per unit of the JSON value
    int8_t decimals = 0;  ///< rounding of the JSON value; 0 with divisor 1 prints an integer
    int32_t nanRaw = noNanValue;
};

/// Text of a coded value (navigation status, ship type, ...), never null.
using TextOf = std::string (*)(uint32_t value);

struct FieldTable;

struct FieldRow {
    const char* name = nullptr;
    int16_t offset = 0;  ///< first bit, from the start of the message
    int16_t width = 0;   ///< bits; for a group, the bits of one repeat
    FieldKind kind = FieldKind::unsignedInt;
    Scale scale{};
    TextOf texts = nullptr;
    int16_t aux = 0;  ///< see FieldKind: extension offset, trailing bits, or repeats
    const FieldTable* subfields = nullptr;  ///< a group's layout, offsets from the repeat's start
};

/// A layout: a run of rows in print order.
struct FieldTable {
    const FieldRow* begin = nullptr;
    const FieldRow* end = nullptr;
};

template <std::size_t count>
constexpr FieldTable tableOf(const FieldRow (&rows)[count]) {
    return FieldTable{rows, rows + count};
}

// Row builders, so that a table reads as name, offset, width and meaning.

constexpr FieldRow unsignedAt(const char* name, int16_t offset, int16_t width) {
    return FieldRow{name, offset, width, FieldKind::unsignedInt};
}
constexpr FieldRow flagAt(const char* name, int16_t offset) {
    return FieldRow{name, offset, 1, FieldKind::flag};
}
constexpr FieldRow scaledAt(const char* name, int16_t offset, int16_t width, Scale scale) {
    return FieldRow{name, offset, width, FieldKind::scaled, scale};
}
constexpr FieldRow textAt(const char* name, int16_t offset, int16_t chars) {
    return FieldRow{name, offset, static_cast<int16_t>(chars * 6), FieldKind::text};
}
constexpr FieldRow textToEnd(const char* name, int16_t offset) {
    return FieldRow{name, offset, 0, FieldKind::textToEnd};
}
constexpr FieldRow dataToEnd(const char* name, int16_t offset, int16_t trailingBits = 0) {
    return FieldRow{name, offset, 0, FieldKind::data, {}, nullptr, trailingBits};
}
constexpr FieldRow codeAt(const char* name, int16_t offset, int16_t width, TextOf texts) {
    return FieldRow{name, offset, width, FieldKind::code, {}, texts};
}
constexpr FieldRow codeTextAt(const char* name, int16_t offset, int16_t width, TextOf texts) {
    return FieldRow{name, offset, width, FieldKind::codeText, {}, texts};
}
constexpr FieldRow timeAt(const char* name, int16_t offset, FieldKind kind) {
    const int16_t width = kind == FieldKind::dateTime       ? 40
                          : kind == FieldKind::monthDayTime ? 20
                                                            : 16;
    return FieldRow{name, offset, width, kind};
}
/// `earliest`: the first bit the field may start at (where the data before it begin).
constexpr FieldRow lastBitsOf(const char* name, int16_t width, int16_t earliest) {
    return FieldRow{name, earliest, width, FieldKind::lastBits};
}
constexpr FieldRow zeroFor(const char* name) {
    return FieldRow{name, 0, 0, FieldKind::zero};
}
constexpr FieldRow groupAt(const char* name, int16_t offset, int16_t stride, int16_t repeats,
                           const FieldTable* subfields) {
    return FieldRow{name, offset, stride, FieldKind::group, {}, nullptr, repeats, subfields};
}

// Scales shared by many messages.

/// Speed over ground in 0.1 knot, 1023 not available.
constexpr Scale knotTenths{false, 0, 10, 1, 1023};
/// Course over ground in 0.1 degree (3600 not available, printed as 360.0).
constexpr Scale degreeTenths{false, 0, 10, 1};
/// Longitude or latitude in 1/10000 minute.
constexpr Scale tenThousandthMinutes{true, 0, 600000, 6};
/// Longitude or latitude in 1/1000 minute.
constexpr Scale thousandthMinutes{true, 0, 60000, 6};
/// Longitude or latitude in 1/10 minute.
constexpr Scale tenthMinutes{true, 0, 600, 6};
/// A length in tenths: draught in decimetres, wind and current speed in 0.1 knot.
constexpr Scale tenths{false, 0, 10, 1};

}  // namespace keelwave::ais
