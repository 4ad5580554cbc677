// What could hide a fault in the transmitter model itself, which every round trip trusts: its
// sentences against real ones, and the deviation of its modulator, which the receiver's gain
// control would make up for.
#include "tests/support/corpus.hpp"
#include "tools/transmitter/discriminator_signal.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace keelwave::test {
namespace {

namespace tx = keelwave::transmitter;

TEST(TransmitterModel, WritesRealSentencesBackCharacterForCharacter) {
    std::ifstream file(PROJECT_DIR "/tests/data/real-aivdm-sample.nmea");
    std::size_t compared = 0;
    for (std::string line; std::getline(file, line);) {
        const tx::NmeaSentence sentence = tx::parseNmeaSentence(line);
        const tx::Bits bits = tx::dearmourPayload(sentence.payload, sentence.fillBits);
        // Only sentences a receiver prints as they were received: one fragment, whole bytes.
        if (line.rfind("!AIVDM,1,1,,", 0) != 0 || bits.size() % 8 != 0) {
            continue;
        }
        tx::SequenceCounters counters;
        EXPECT_THAT(tx::expectedSentences(bits, sentence.channel, counters),
                    testing::ElementsAre(line));
        ++compared;
    }
    EXPECT_GT(compared, 150u);
}

TEST(TransmitterModel, ALongRunOfOnesDeviatesByTheFullAisDeviation) {
    tx::GaussianNoise noise = tx::makeGaussianNoise(1);
    const tx::Bits levels(100, 1);
    const auto samples = tx::discriminatorBurst(aisPulse(), levels, {}, noise);
    ASSERT_GT(samples.size(), 400u);
    for (std::size_t n = 100; n < 400; ++n) {
        EXPECT_NEAR(samples[n], 2400.0 / 1.46484375, 1.0) << n;
    }
}

}  // namespace
}  // namespace keelwave::test
