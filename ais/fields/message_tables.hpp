#pragma once

#include "ais/fields/field_row.hpp"
#include "ais/fields/payload_bits.hpp"

#include <cstdint>

// The layouts of the message types after the common header (type, repeat indicator, MMSI), one
// family per file. Each function picks the layout of one message, for types whose layout
// depends on the message's own bits (a part number, an addressed flag, an application). Offsets
// count from the first bit of the message.

namespace keelwave::ais {

/// A message's layout: one table, or two decoded one after the other (the addressed or
/// broadcast header of a binary message, then its application's fields or its data).
struct MessageLayout {
    FieldTable first;
    FieldTable second;
};

/// Bits of the header every message starts with: type 6, repeat indicator 2, MMSI 30.
constexpr int16_t headerBits = 38;

/// Types 1-3, 4, 9, 11, 18, 19, 21 and 27.
FieldTable positionLayout(const PayloadBits& bits, uint32_t type);
/// Types 5 and 24.
FieldTable voyageLayout(const PayloadBits& bits, uint32_t type);
/// Types 7, 10, 13, 15, 16, 20, 22 and 23.
FieldTable linkLayout(const PayloadBits& bits, uint32_t type);
/// Types 6, 8, 12, 14, 17, 25 and 26.
MessageLayout binaryLayout(const PayloadBits& bits, uint32_t type);
/// The decoded application of a type 6 or 8 message (its fields from the DAC on), or an empty
/// table when this application is not decoded or the message's length does not fit it.
FieldTable applicationLayout(const PayloadBits& bits, uint32_t type);

}  // namespace keelwave::ais
