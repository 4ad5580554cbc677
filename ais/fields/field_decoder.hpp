#pragma once

#include "ais/fields/field_row.hpp"
#include "ais/fields/payload_bits.hpp"

#include <nlohmann/json.hpp>

namespace keelwave::ais {

/// Adds to `out`, in the table's order, every field of `table` that lies whole inside the
/// message, its offsets counted from bit `base`. A field cut by the end of the message is left
/// out, and so is everything after the message's end: no value is made from missing bits.
void decodeFieldTable(const PayloadBits& bits, const FieldTable& table, int32_t base,
                      nlohmann::ordered_json& out);

}  // namespace keelwave::ais
