#include "ais/sensitive/frame_search.hpp"
#include "ais/sensitive/gmsk_reference.hpp"
#include "tests/ais/sensitive/chain_recording.hpp"
#include "tools/transmitter/ais_burst.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace keelwave::ais {
namespace {

using transmitter::Bits;

// A burst's symbols as a clean reception decides them: the preamble, then the frame stuffed
// and closed by a flag, each symbol sure.
std::unique_ptr<SoftSymbols> decidedBurst(const Bits& message) {
    GmskReference reference;
    initGmskReference(reference);
    const Bits burst = transmitter::burstBits(message);
    const Bits bits(
        burst.begin() + transmitter::rampUpBits + transmitter::trainingBits + transmitter::flagBits,
        burst.end() - transmitter::rampDownBits);
    auto symbols = std::make_unique<SoftSymbols>();
    for (int32_t k = 0; k < preambleSymbols; ++k) {
        symbols->decisions[k] = reference.preambles[0].symbols[k];
    }
    // Bit k is 1 when c_k = c_(k-2).
    for (std::size_t i = 0; i < bits.size(); ++i) {
        const auto k = static_cast<int32_t>(preambleSymbols + i);
        symbols->decisions[k] = static_cast<int8_t>(bits[i] != 0 ? symbols->decisions[k - 2]
                                                                 : -symbols->decisions[k - 2]);
    }
    symbols->count = static_cast<int32_t>(preambleSymbols + bits.size());
    for (int32_t k = 0; k < symbols->count; ++k) {
        symbols->reliabilities[k] = 1.0f;
    }
    return symbols;
}

// Turns symbol k over as a wrong decision would have it: alone, or decided by levels, every
// decision from it on.
void decideWrongly(SoftSymbols& symbols, int32_t k, float reliability) {
    for (int32_t j = k; j < (symbols.byLevels ? symbols.count : k + 1); ++j) {
        symbols.decisions[j] = static_cast<int8_t>(-symbols.decisions[j]);
    }
    symbols.reliabilities[k] = reliability;
}

TEST(FrameSearch, FindsTheFrameBehindItsLeastSureSymbols) {
    const Bits message = test::corpusMessages(1).front();
    constexpr float unsure = 0.1f;
    constexpr float sure = 0.9f;
    constexpr float limit = 0.7f;
    struct Case {
        const char* name;
        bool byLevels;
        std::vector<std::pair<int32_t, float>> wrong;  // symbol after the preamble, sureness
        bool found;
    };
    const Case cases[] = {
        {"none wrong", false, {}, true},
        {"one unsure symbol wrong", false, {{40, unsure}}, true},
        {"two unsure symbols wrong", false, {{3, unsure}, {150, unsure}}, true},
        {"a wrong symbol in the end flag", false, {{194, unsure}}, true},
        {"one sure symbol wrong", false, {{40, sure}}, false},
        {"three unsure symbols wrong", false, {{3, unsure}, {70, unsure}, {150, unsure}}, false},
        {"one unsure level wrong", true, {{60, unsure}}, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto symbols = decidedBurst(message);
        symbols->byLevels = test.byLevels;
        for (const auto& [k, reliability] : test.wrong) {
            decideWrongly(*symbols, preambleSymbols + k, reliability);
        }
        auto search = std::make_unique<FrameSearch>();
        search->checks = 0;
        startFrame(*search);
        FrameReading reading = readFrame(*search, *symbols);
        if (reading != FrameReading::passed) {
            startFlips(*search, *symbols, limit);
            reading = searchFlips(*search, *symbols);
        }
        ASSERT_EQ(reading == FrameReading::passed, test.found);
        if (test.found) {
            EXPECT_EQ(Bits(search->payloadBits, search->payloadBits + search->messageBits),
                      message);
        }
        EXPECT_LE(search->checks, 1 + flipTrials) << "each reading checked once at most";
    }
}

}  // namespace
}  // namespace keelwave::ais
