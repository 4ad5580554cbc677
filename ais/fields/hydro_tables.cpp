#include "ais/fields/hydro_tables.hpp"
#include "ais/fields/application_texts.hpp"

// Meteorological and hydrographic data broadcast by type 8 with DAC 1: FI 11 (the first
// international application) and FI 31 (its successor). Wind in knots and degrees, air and
// water temperature in 0.1 degree Celsius, humidity in percent, pressure in hPa, visibility
// and current speed in 0.1 knot or nautical mile, wave and swell heights in 0.1 m, periods in
// seconds. Positions in 1/1000 minute. Offsets count from the start of the message.

namespace keelwave::ais {

namespace {

// FI 11 sends its values with an offset instead of a sign.
constexpr Scale airTemperature11{false, -600, 10, 1};
constexpr Scale dewPoint11{false, -200, 10, 1};
constexpr Scale pressure11{false, 800, 1, 0};
constexpr Scale waterLevel11{false, -100, 10, 1};
constexpr Scale waterTemperature11{false, -100, 10, 1};

constexpr FieldRow meteoHydro11Fields[] = {
    scaledAt("lat", 56, 24, thousandthMinutes),
    scaledAt("lon", 80, 25, thousandthMinutes),
    timeAt("timestamp", 105, FieldKind::dayTime),
    unsignedAt("wspeed", 121, 7),
    unsignedAt("wgust", 128, 7),
    unsignedAt("wdir", 135, 9),
    unsignedAt("wgustdir", 144, 9),
    unsignedAt("humidity", 164, 7),
    scaledAt("airtemp", 153, 11, airTemperature11),
    scaledAt("dewpoint", 171, 10, dewPoint11),
    scaledAt("pressure", 181, 9, pressure11),
    codeTextAt("pressuretend", 190, 2, trendText),
    scaledAt("visibility", 192, 8, tenths),
    scaledAt("waterlevel", 200, 9, waterLevel11),
    codeTextAt("leveltrend", 209, 2, trendText),
    scaledAt("cspeed", 211, 8, tenths),
    unsignedAt("cdir", 219, 9),
    scaledAt("cspeed2", 228, 8, tenths),
    unsignedAt("cdir2", 236, 9),
    unsignedAt("cdepth2", 245, 5),
    scaledAt("cspeed3", 250, 8, tenths),
    unsignedAt("cdir3", 258, 9),
    unsignedAt("cdepth3", 267, 5),
    scaledAt("waveheight", 272, 8, tenths),
    unsignedAt("waveperiod", 280, 6),
    unsignedAt("wavedir", 286, 9),
    scaledAt("swellheight", 295, 8, tenths),
    unsignedAt("swellperiod", 303, 6),
    unsignedAt("swelldir", 309, 9),
    unsignedAt("seastate", 318, 4),
    scaledAt("watertemp", 322, 10, waterTemperature11),
    codeAt("preciptype", 332, 3, precipitationText),
    scaledAt("salinity", 335, 9, tenths),
    codeAt("ice", 344, 2, iceText),
};

// FI 31 signs its temperatures, counts pressure from 799 hPa and the water level in cm from
// -10 m.
constexpr Scale signedTenths{true, 0, 10, 1};
constexpr Scale pressure31{false, 799, 1, 0};
constexpr Scale waterLevel31{false, -1000, 100, 2};

constexpr FieldRow meteoHydro31Fields[] = {
    scaledAt("lat", 81, 24, thousandthMinutes),
    scaledAt("lon", 56, 25, thousandthMinutes),
    flagAt("accuracy", 105),
    timeAt("timestamp", 106, FieldKind::dayTime),
    unsignedAt("wspeed", 122, 7),
    unsignedAt("wgust", 129, 7),
    unsignedAt("wdir", 136, 9),
    unsignedAt("wgustdir", 145, 9),
    unsignedAt("humidity", 165, 7),
    scaledAt("airtemp", 154, 11, signedTenths),
    scaledAt("dewpoint", 172, 10, signedTenths),
    scaledAt("pressure", 182, 9, pressure31),
    codeTextAt("pressuretend", 191, 2, trendText),
    flagAt("visgreater", 193),
    scaledAt("visibility", 194, 7, tenths),
    scaledAt("waterlevel", 201, 12, waterLevel31),
    codeTextAt("leveltrend", 213, 2, trendText),
    scaledAt("cspeed", 215, 8, tenths),
    unsignedAt("cdir", 223, 9),
    scaledAt("cspeed2", 232, 8, tenths),
    unsignedAt("cdir2", 240, 9),
    unsignedAt("cdepth2", 249, 5),
    scaledAt("cspeed3", 254, 8, tenths),
    unsignedAt("cdir3", 262, 9),
    unsignedAt("cdepth3", 271, 5),
    scaledAt("waveheight", 276, 8, tenths),
    unsignedAt("waveperiod", 284, 6),
    unsignedAt("wavedir", 290, 9),
    scaledAt("swellheight", 299, 8, tenths),
    unsignedAt("swellperiod", 307, 6),
    unsignedAt("swelldir", 313, 9),
    unsignedAt("seastate", 322, 4),
    scaledAt("watertemp", 326, 10, signedTenths),
    codeTextAt("preciptype", 336, 3, precipitationText),
    scaledAt("salinity", 339, 9, tenths),
    codeTextAt("ice", 348, 2, iceText),
};

}  // namespace

FieldTable meteoHydro11Layout() {
    return tableOf(meteoHydro11Fields);
}

FieldTable meteoHydro31Layout() {
    return tableOf(meteoHydro31Fields);
}

}  // namespace keelwave::ais
