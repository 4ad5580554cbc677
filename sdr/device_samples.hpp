#pragma once

#include <cstdint>

namespace keelwave::sdr {

// A device's samples on their way into the tuner stream: from the device's own format to
// floats in steps of the 8-bit stream (128 steps at the device's full scale), and after
// resampling back to unsigned bytes, 128 standing for 0 (base/tuner_stream.hpp).

/// The sample formats devices deliver natively, as SoapySDR names them.
enum class DeviceFormat {
    cs8,   ///< signed 8-bit I and Q
    cs16,  ///< signed 16-bit I and Q
    cf32,  ///< 32-bit float I and Q
};

/// Converts `pairs` I/Q pairs from `in` in `format` to floats at `out` (@param[out], 2 per
/// pair), each value times `stepsPerUnit`.
void toSteps(DeviceFormat format, const void* in, uint32_t pairs, float stepsPerUnit, float* out);

/// Converts `pairs` I/Q pairs of floats in steps to unsigned bytes at `out` (@param[out]),
/// rounded to the nearest step and clipped to the bytes' range.
void toTunerBytes(const float* in, uint32_t pairs, uint8_t* out);

}  // namespace keelwave::sdr
