#include "ais/sensitive/burst_sync.hpp"
#include "ais/sensitive/burst_window.hpp"
#include "ais/sensitive/channel_filter.hpp"
#include "tests/ais/sensitive/chain_recording.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace keelwave::ais::test {
namespace {

// Zeros in front of the channel's first sample: the matched filter looks back over them.
constexpr int32_t guard = 2 * matchedFilterLead;

// Channel A of a recording, through the channel filter, after the guard.
struct Channel {
    std::vector<float> re = std::vector<float>(guard);
    std::vector<float> im = std::vector<float>(guard);
};

Channel channelA(const std::vector<float>& samples) {
    auto filter = std::make_unique<ChannelFilter>();
    initChannelFilter(*filter, -25000.0);
    Channel channel;
    std::vector<float> re(filterChunkOutputs + filterTile);
    std::vector<float> im(filterChunkOutputs + filterTile);
    for (std::size_t at = 0; at + 2 * filterChunkPairs <= samples.size();
         at += 2 * filterChunkPairs) {
        float power = 0.0f;
        const int32_t count = filterChannel(*filter, samples.data() + at, filterChunkPairs,
                                            re.data(), im.data(), power);
        channel.re.insert(channel.re.end(), re.begin(), re.begin() + count);
        channel.im.insert(channel.im.end(), im.begin(), im.begin() + count);
    }
    return channel;
}

// What the preamble of the one burst on channel A says, at the detector's best candidate; the
// frequency is the whole of it, the detector's estimate included.
BurstTiming synchroniseOnlyBurst(const std::vector<float>& samples) {
    const Channel channel = channelA(samples);
    auto reference = std::make_unique<GmskReference>();
    initGmskReference(*reference);
    auto detector = std::make_unique<BurstDetector>();
    initBurstDetector(*detector, *reference);
    // As far as the detector may read; the window reads what there is, and zeros past it.
    const auto held = static_cast<int32_t>(channel.re.size()) - guard;
    const int64_t end = held - matchedFilterLag - detectorBatchSlack;
    const float* re = channel.re.data() + guard;
    const float* im = channel.im.data() + guard;
    BurstCandidate found[detectorBatch / candidateWindow + 1];
    BurstCandidate best;
    while (detector->nextSample < end) {
        const int32_t count =
            detectBursts(*detector, *reference, re, im, 0,
                         std::min<int64_t>(end, detector->nextSample + detectorBatch), found);
        for (int32_t i = 0; i < count; ++i) {
            best = found[i].match > best.match ? found[i] : best;
        }
    }
    auto window = std::make_unique<BurstWindow>();
    startBurstWindow(*window, best.instant, best.turnPerSymbol);
    fillBurstWindow(*window, candidateSpan, re, im, 0, held);
    BurstTiming timing =
        synchroniseBurst(*reference, window->re + candidateLead, window->im + candidateLead, best);
    timing.turnPerSymbol += best.turnPerSymbol;
    return timing;
}

TEST(BurstSync, FindsTheIndexATransmitterSendsWith) {
    struct Case {
        double deviationHz;
        bool trainingFromOne;
        double snrDb;  // in the model's 48 kHz
    };
    const Case cases[] = {
        {2400.0, false, 60.0}, {1920.0, false, 60.0}, {2880.0, false, 60.0},
        {2160.0, true, 60.0},  {2640.0, false, 12.0},
    };
    const transmitter::Bits message = corpusMessages(1).front();
    for (const Case& test : cases) {
        SCOPED_TRACE(testing::Message() << test.deviationHz << " Hz, " << test.snrDb << " dB");
        transmitter::RecordingSettings settings;
        settings.amplitude = 40.0;
        settings.snrDb = test.snrDb;
        settings.deviationHz = test.deviationHz;
        const ChainInput input = render({message}, settings, 'A', test.trainingFromOne);
        const BurstTiming timing = synchroniseOnlyBurst(input.samples);
        const double index = 2.0 * test.deviationHz / 9600.0;
        EXPECT_GT(timing.match, test.snrDb > 20.0 ? 0.99 : 0.8);
        EXPECT_NEAR(timing.index, index, 0.015);
        EXPECT_EQ(timing.training, test.trainingFromOne ? 1 : 0);
        // The model's ramp keeps its first level, 0 (down), so the training's first bit turns it
        // up: the reference's levels the other way round.
        EXPECT_TRUE(timing.conjugate);
        // The model's transmitters are on frequency: what is left of it is the estimate's error.
        EXPECT_NEAR(timing.turnPerSymbol, 0.0, 0.02);
    }
}

}  // namespace
}  // namespace keelwave::ais::test
