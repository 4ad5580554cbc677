#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace keelwave::sdr {

/// Sample rates a device offers, pairs per second: every rate from `lowest` to `highest`
/// (equal for a single rate).
struct RateRange {
    double lowest = 0.0;
    double highest = 0.0;
};

/// The rate to ask of a device that offers `ranges`, for the tuner stream's 288000 pairs/s:
/// the lowest multiple of 288000 it offers (decimation by an integer, the least work);
/// without one, the lowest rate above 288000 that the resampler can take down to it
/// (for a range, its lowest whole multiple of 1000 Hz). Nothing if none will do.
std::optional<uint32_t> chooseDeviceRate(const std::vector<RateRange>& ranges);

/// Whether `ranges` include `pairsPerSecond`.
bool offersRate(const std::vector<RateRange>& ranges, uint32_t pairsPerSecond);

}  // namespace keelwave::sdr
