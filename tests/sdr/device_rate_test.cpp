// The rate asked of a SoapySDR device: the lowest multiple of 288000 it offers, else the
// lowest rate the resampler can take down, else none; each row a device as its driver lists it.
// A rate asked for is taken only where the device offers it.
#include "sdr/device_rate.hpp"

#include <gtest/gtest.h>

namespace keelwave::test {
namespace {

using namespace sdr;

TEST(DeviceRate, TheLowestMultipleOf288000ElseTheLowestWorkableRate) {
    struct Case {
        const char* device;
        std::vector<RateRange> ranges;
        std::optional<uint32_t> chosen;
    };
    const Case cases[] = {
        {"RTL-SDR", {{225001, 300000}, {900001, 3200000}}, 288000},
        {"RTL-SDR listed", {{250000, 250000}, {1024000, 1024000}, {1152000, 1152000}}, 1152000},
        {"HackRF", {{1000000, 20000000}}, 1152000},
        {"SDRplay", {{2000000, 10000000}}, 2016000},
        {"Airspy R2", {{10000000, 10000000}, {2500000, 2500000}}, 2500000},
        {"Airspy Mini", {{6000000, 6000000}, {3000000, 3000000}}, 3000000},
        {"a range without a multiple", {{2500100, 2550000}}, 2501000},
        {"a multiple beats a lower rate", {{2048000, 2048000}, {2304000, 2304000}}, 2304000},
        {"a multiple at the top of a range", {{900001, 1152000}}, 1152000},
        {"nothing fast enough", {{100000, 250000}}, std::nullopt},
        {"an awkward rate only", {{2999999, 2999999}}, std::nullopt},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(chooseDeviceRate(test.ranges), test.chosen) << test.device;
    }
}

TEST(DeviceRate, ARateAskedForMustLieInARange) {
    const std::vector<RateRange> rtlSdr = {{225001, 300000}, {900001, 3200000}};
    EXPECT_TRUE(offersRate(rtlSdr, 300000));
    EXPECT_TRUE(offersRate(rtlSdr, 3200000));
    EXPECT_FALSE(offersRate(rtlSdr, 300001));
    EXPECT_FALSE(offersRate(rtlSdr, 900000));
}

}  // namespace
}  // namespace keelwave::test
