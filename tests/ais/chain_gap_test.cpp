// A gap in the tuner's stream (blocks the channels were too slow for) as both chains meet it:
// a burst whose samples are cut by the gap is never printed, even when the samples on either
// side of it would fit together, and the burst after it is.
#include "ais/classic/classic_chain.hpp"
#include "ais/sensitive/sensitive_chain.hpp"
#include "tests/ais/sensitive/chain_recording.hpp"
#include "tests/support/corpus.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace keelwave::ais::test {
namespace {

/// Channel A's chain of `kind`, its sentences kept in `sentences`.
std::unique_ptr<DecodingChain> channelA(ChainKind kind, std::vector<std::string>& sentences) {
    const MessageSink sink = keelwave::test::sentencesInto(sentences);
    if (kind == ChainKind::sensitive) {
        return std::make_unique<SensitiveChain>('A', -25000.0, false, sink, nullptr, nullptr);
    }
    return std::make_unique<ClassicChain>('A', -25000, false, sink, nullptr, nullptr);
}

TEST(ChainGap, NoBurstSpansAGapAndTheNextOneIsHeard) {
    // Two bursts in consecutive slots of channel A, the first beginning 50 ms in.
    const ChainInput input = render(corpusMessages(2), transmitter::RecordingSettings{}, 'A');
    ASSERT_EQ(input.expected.at('A').size(), 2u);
    // Half way through the first burst, 13 ms before the second begins.
    constexpr uint32_t cutFloats = 2 * 18144;
    for (const ChainKind kind : {ChainKind::classic, ChainKind::sensitive}) {
        for (const bool gap : {false, true}) {
            std::vector<std::string> sentences;
            const auto chain = channelA(kind, sentences);
            const auto rest = static_cast<uint32_t>(input.samples.size()) - cutFloats;
            chain->processBlock({input.samples.data(), cutFloats, 0, false});
            chain->processBlock({input.samples.data() + cutFloats, rest, cutFloats / 2, gap});
            chain->finish();
            // The second burst is the first message its chain prints after a gap: its sequence
            // id does not matter here, its payload does.
            const std::vector<std::string>& sent = input.expected.at('A');
            const std::vector<std::string> heard(sent.begin() + (gap ? 1 : 0), sent.end());
            EXPECT_EQ(sentences, heard)
                << chainName(kind) << (gap ? " with" : " without") << " the gap";
        }
    }
}

}  // namespace
}  // namespace keelwave::ais::test
