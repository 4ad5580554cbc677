#pragma once

#include <cstdint>
#include <string>

// The texts gpsd prints beside (or instead of) coded values, word for word, so that a consumer
// written against gpsd finds the same strings. Every function answers any value.

namespace keelwave::ais {

/// Navigation status (types 1-3, 27), 0..15.
std::string navigationStatusText(uint32_t value);
/// Ship and cargo type (types 5, 19, 24, 23), 0..255.
std::string shipTypeText(uint32_t value);
/// Type of electronic position fixing device, 0..15.
std::string epfdText(uint32_t value);
/// Type of aid to navigation (type 21), 0..31.
std::string aidTypeText(uint32_t value);
/// Station type a group assignment addresses (type 23), 0..15.
std::string stationTypeText(uint32_t value);

}  // namespace keelwave::ais
