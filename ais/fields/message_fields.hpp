#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

// The fields of one AIS message as a JSON object under gpsd's AIS names and scaling (gpsd's
// "AIS DUMP FORMATS", as `gpsdecode` prints them by default: scaled), members in gpsd's order:
//
//   {"class":"AIS","type":1,"repeat":0,"mmsi":371798000,"scaled":true,"status":0,
//    "status_text":"Under way using engine","turn":"fastleft","speed":12.3,...}
//
// Every message type 1..27 is decoded from tables of its fields (ais/fields/*_tables.cpp).
// A message shorter than its type's layout gives the fields that lie whole inside it and no
// others; any other type gives the header alone. The README lists where the values
// deliberately differ from gpsd's.

namespace keelwave::ais {

/// Decodes the message whose `bitCount` bits are packed MSB first in `bytes` (the first bit of
/// the message is the top bit of bytes[0]; (bitCount + 7) / 8 bytes are read).
nlohmann::ordered_json decodeMessageFields(const uint8_t* bytes, int32_t bitCount);

/// Decodes the message carried by armoured payload text (a group's payloads joined) with
/// `fillBits` fill bits; empty when the text is not a valid payload.
std::optional<nlohmann::ordered_json> decodeArmouredMessage(std::string_view payload, int fillBits);

}  // namespace keelwave::ais
