#pragma once

#include <cstdint>
#include <string>

// Texts gpsd prints for coded values of the binary applications it decodes, word for word
// (misspellings included, so that a consumer matching gpsd's strings finds them).

namespace keelwave::ais {

/// Inland ship type (ERI classification, 8000..8370 as gpsd knows them).
std::string inlandShipTypeText(uint32_t value);
/// Blue cones or lights of an inland vessel's hazardous cargo, 0..5.
std::string inlandHazardText(uint32_t value);
/// Inland vessel's load status, 0..3.
std::string inlandLoadText(uint32_t value);
/// Aid to navigation monitoring: RACON status, 0..3.
std::string raconStatusText(uint32_t value);
/// Aid to navigation monitoring: light status, 0..3.
std::string lightStatusText(uint32_t value);
/// Trend of air pressure or water level, 0..3.
std::string trendText(uint32_t value);
/// Type of precipitation, 0..7.
std::string precipitationText(uint32_t value);
/// Ice accretion, 0..3.
std::string iceText(uint32_t value);

}  // namespace keelwave::ais
