// A device's samples into the tuner stream's bytes: each native format at its full scale to 128
// steps, and back to bytes rounded, clipped and 128 for 0, whatever a device delivers.
#include "sdr/device_samples.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace keelwave::test {
namespace {

using namespace sdr;

TEST(DeviceSamples, EachFormatAtItsFullScaleComesOutAsTheTunerStreamsBytes) {
    const int8_t cs8[] = {-128, 127, 0, -1};
    const int16_t cs16[] = {-32768, 32767, 0, -256};  // SoapySDR's full scale for CS16: 32768
    const float cf32[] = {-1.0f, 0.999f, 0.0f, -0.0078125f};
    const struct {
        DeviceFormat format;
        const void* samples;
        float stepsPerUnit;
    } cases[] = {{DeviceFormat::cs8, cs8, 1.0f},
                 {DeviceFormat::cs16, cs16, 128.0f / 32768},
                 {DeviceFormat::cf32, cf32, 128.0f}};
    for (const auto& test : cases) {
        float steps[4];
        uint8_t bytes[4];
        toSteps(test.format, test.samples, 2, test.stepsPerUnit, steps);
        toTunerBytes(steps, 2, bytes);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0, 255, 128, 127}))
            << static_cast<int>(test.format);
    }
}

TEST(DeviceSamples, BytesAreRoundedAndClippedAndANaNIsNoByteBeyondTheRange) {
    const float steps[] = {-200.0f, 300.0f, 0.4f, -0.6f, std::numeric_limits<float>::quiet_NaN(),
                           1.5f};
    uint8_t bytes[6];
    toTunerBytes(steps, 3, bytes);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 6),
              (std::vector<uint8_t>{0, 255, 128, 127, 0, 130}));
}

}  // namespace
}  // namespace keelwave::test
