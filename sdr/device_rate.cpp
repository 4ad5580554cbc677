#include "sdr/device_rate.hpp"

#include "base/tuner_stream.hpp"
#include "sdr/rational_resampler.hpp"

#include <algorithm>
#include <cmath>

namespace keelwave::sdr {

namespace {

/// The grain of a rate picked within a range that holds no multiple of 288000: 288000 is
/// 288 such steps, so the resampler needs at most 288 phases.
constexpr double rangeGrainHz = 1000.0;
/// How far a device's own figure for a rate may be from a whole number of Hz.
constexpr double rateToleranceHz = 0.5;

/// The lowest multiple of `grain` in the range, at least the tuner stream's rate.
std::optional<uint32_t> lowestMultiple(const RateRange& range, double grain) {
    const double lowest = std::max(range.lowest, static_cast<double>(base::tunerPairsPerSecond));
    const double rate = std::ceil((lowest - rateToleranceHz) / grain) * grain;
    if (rate > range.highest + rateToleranceHz || rate > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(rate);
}

}  // namespace

std::optional<uint32_t> chooseDeviceRate(const std::vector<RateRange>& ranges) {
    std::optional<uint32_t> multiple;
    std::optional<uint32_t> workable;
    for (const RateRange& range : ranges) {
        if (const auto rate = lowestMultiple(range, base::tunerPairsPerSecond)) {
            multiple = std::min(multiple.value_or(*rate), *rate);
        }
        const bool single = range.highest - range.lowest < rateToleranceHz;
        const auto rate = single ? lowestMultiple(range, 1.0) : lowestMultiple(range, rangeGrainHz);
        if (rate && resamplingRatio(*rate, base::tunerPairsPerSecond)) {
            workable = std::min(workable.value_or(*rate), *rate);
        }
    }
    return multiple ? multiple : workable;
}

bool offersRate(const std::vector<RateRange>& ranges, uint32_t pairsPerSecond) {
    return std::any_of(ranges.begin(), ranges.end(), [pairsPerSecond](const RateRange& range) {
        return pairsPerSecond >= range.lowest - rateToleranceHz &&
               pairsPerSecond <= range.highest + rateToleranceHz;
    });
}

}  // namespace keelwave::sdr
