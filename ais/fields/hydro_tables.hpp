#pragma once

#include "ais/fields/field_row.hpp"

namespace keelwave::ais {

/// Type 8, DAC 1, FI 11: meteorological and hydrographic data (the first application).
FieldTable meteoHydro11Layout();
/// Type 8, DAC 1, FI 31: meteorological and hydrographic data.
FieldTable meteoHydro31Layout();

}  // namespace keelwave::ais
