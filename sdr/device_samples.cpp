#include "sdr/device_samples.hpp"

#include <cmath>

namespace keelwave::sdr {

namespace {

template <typename Sample>
void scale(const void* in, uint32_t pairs, float stepsPerUnit, float* out) {
    const auto* samples = static_cast<const Sample*>(in);
    for (uint32_t n = 0; n < 2 * pairs; ++n) {
        out[n] = static_cast<float>(samples[n]) * stepsPerUnit;
    }
}

}  // namespace

void toSteps(DeviceFormat format, const void* in, uint32_t pairs, float stepsPerUnit, float* out) {
    switch (format) {
        case DeviceFormat::cs8:
            scale<int8_t>(in, pairs, stepsPerUnit, out);
            break;
        case DeviceFormat::cs16:
            scale<int16_t>(in, pairs, stepsPerUnit, out);
            break;
        case DeviceFormat::cf32:
            scale<float>(in, pairs, stepsPerUnit, out);
            break;
    }
}

void toTunerBytes(const float* in, uint32_t pairs, uint8_t* out) {
    constexpr float midpoint = 128.0f;
    constexpr float highest = 255.0f;
    for (uint32_t n = 0; n < 2 * pairs; ++n) {
        const float byte = std::nearbyint(in[n]) + midpoint;
        // Written so that a NaN a device may deliver becomes 0 rather than undefined.
        out[n] = byte >= highest ? uint8_t{255}
                 : byte > 0.0f   ? static_cast<uint8_t>(byte)
                                 : uint8_t{0};
    }
}

}  // namespace keelwave::sdr
