#include "ais/sensitive/channel_filter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace keelwave::ais {
namespace {

constexpr double pi = 3.14159265358979323846;

// Power gain in dB of a tone `toneHz` from the tuner's centre through the filter of a
// channel at `channelHz`, measured once the filter has settled.
double gainDb(double channelHz, double toneHz) {
    auto filter = std::make_unique<ChannelFilter>();
    initChannelFilter(*filter, channelHz);
    constexpr double amplitude = 100.0;
    std::vector<float> tone(2 * filterChunkPairs);
    std::vector<float> re(filterChunkOutputs + filterTile);
    std::vector<float> im(filterChunkOutputs + filterTile);
    double power = 0.0;
    int32_t outputs = 0;
    int32_t allOutputs = 0;
    constexpr int chunks = 3;
    for (int chunk = 0; chunk < chunks; ++chunk) {
        for (int32_t n = 0; n < filterChunkPairs; ++n) {
            const double phase = 2.0 * pi * toneHz * (chunk * filterChunkPairs + n) / tunerRateHz;
            tone[2 * n] = static_cast<float>(amplitude * std::cos(phase));
            tone[2 * n + 1] = static_cast<float>(amplitude * std::sin(phase));
        }
        float chunkPower = 0.0f;
        const int32_t written =
            filterChannel(*filter, tone.data(), filterChunkPairs, re.data(), im.data(), chunkPower);
        allOutputs += written;
        if (chunk > 0) {  // past the filter's start
            power += chunkPower;
            outputs += written;
        }
    }
    EXPECT_EQ(allOutputs, chunks * filterChunkPairs / channelDecimation)
        << "one output per 6 pairs, whatever the chunks";
    return 10.0 * std::log10(power / outputs / (amplitude * amplitude));
}

TEST(ChannelFilter, PassesItsChannelAndStopsWhatFoldsIntoIt) {
    struct Case {
        double offsetHz;  // of the tone from the channel's centre
        double lowestDb;
        double highestDb;
    };
    const Case cases[] = {
        {0.0, -0.05, 0.05},    // unit gain at the centre
        {8000.0, -0.2, 0.05},  // a burst 4 kHz off and its sidebands
        {-11000.0, -0.3, 0.05},
        {40000.0, -300.0, -60.0},  // folds onto the channel at 48000 samples/s
        {-38000.0, -300.0, -58.0},
        {50000.0, -300.0, -62.0},  // the other AIS channel
        {-50000.0, -300.0, -62.0},
        {100000.0, -300.0, -60.0},
    };
    for (const double channelHz : {-25000.0, 25000.0}) {
        for (const Case& test : cases) {
            SCOPED_TRACE(testing::Message() << channelHz << " + " << test.offsetHz);
            const double gain = gainDb(channelHz, channelHz + test.offsetHz);
            EXPECT_GE(gain, test.lowestDb);
            EXPECT_LE(gain, test.highestDb);
        }
    }
}

}  // namespace
}  // namespace keelwave::ais
