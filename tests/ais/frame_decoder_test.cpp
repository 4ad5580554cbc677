#include "ais/frame_decoder.hpp"

#include "tests/ais/ais_test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using testing::IsEmpty;
using testing::SizeIs;

namespace {

struct DecoderDeleter {
    void operator()(FrameDecoder* decoder) const { destroyFrameDecoder(decoder); }
};

// A fresh decoder fed with bit sequences; collects what it emits.
struct Harness {
    SentenceSink sink;
    std::unique_ptr<FrameDecoder, DecoderDeleter> decoder{
        createFrameDecoder('A', &SentenceSink::collect, &sink)};

    Harness& feed(const Bits& bits) {
        for (uint8_t bit : bits) {
            decodeBit(decoder.get(), bit);
        }
        return *this;
    }
};

Bits concat(std::initializer_list<Bits> parts) {
    Bits result;
    for (const Bits& part : parts) {
        result.insert(result.end(), part.begin(), part.end());
    }
    return result;
}

Bits messageFromBytes(std::initializer_list<uint8_t> bytes, size_t totalBytes = 21) {
    Bits bits;
    for (uint8_t byte : bytes) {
        for (int i = 7; i >= 0; --i) {
            bits.push_back((byte >> i) & 1);
        }
    }
    bits.resize(totalBytes * 8, 0);
    return bits;
}

// 53 bytes: identifier 5, then 418 ones, which stuffing stretches by 83 bits; the stuffed zeros
// must not count towards the length limit.
Bits longestAllOnes() {
    Bits bits = messageFromBytes({0x17}, 53);
    std::fill(bits.begin() + 6, bits.end(), 1);
    return bits;
}

const Bits idle(8, 1);
const Bits training24 = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
const Bits flag = {0, 1, 1, 1, 1, 1, 1, 0};

// Data and FCS as sent, stuffed, without flags.
Bits stuffedFrame(const Bits& message) {
    Bits frame = transmissionOrder(message);
    const Bits fcs = referenceFcsBits(frame);
    frame.insert(frame.end(), fcs.begin(), fcs.end());
    return stuffBits(frame);
}

}  // namespace

TEST(FrameDecoderReference, TestFcsModelGivesTheStandardCheckValue) {
    // CRC-16/X.25 of "123456789" is 0x906E (reflected, complemented).
    Bits bits;
    for (char c : std::string("123456789")) {
        for (int j = 0; j < 8; ++j) {
            bits.push_back((c >> j) & 1);
        }
    }
    const uint16_t fcs = static_cast<uint16_t>(~referenceCrcRegister(bits));
    uint16_t reflected = 0;
    for (int i = 0; i < 16; ++i) {
        reflected |= static_cast<uint16_t>(((fcs >> i) & 1) << (15 - i));
    }
    EXPECT_EQ(reflected, 0x906E);
}

TEST(FrameDecoder, CleanBurstYieldsTheMessageWhateverTheLastTrainingBit) {
    for (int training : {15, 16, 23, 24, 25, 40}) {
        Harness harness;
        const Bits message = randomMessage(168, 1, static_cast<unsigned>(training));
        harness.feed(buildBurst(message, training));
        ASSERT_THAT(harness.sink.sentences, SizeIs(1)) << training;
        EXPECT_EQ(messageBitsOf(harness.sink.sentences), message);
        EXPECT_EQ(harness.decoder->state, StateTraining);
    }
}

TEST(FrameDecoder, StuffedZerosAreRemovedWhereverRunsOfOnesFall) {
    // Bytes go out least significant bit first; byte 0 = 0x04 is message identifier 1.
    const std::vector<std::pair<const char*, Bits>> cases = {
        {"five ones then data 0", messageFromBytes({0x04, 0x1F, 0x00})},
        {"six ones", messageFromBytes({0x04, 0x3F, 0x00})},
        {"sixteen ones", messageFromBytes({0x04, 0xFF, 0xFF})},
        {"five ones across a byte edge", messageFromBytes({0x04, 0xF0, 0x01})},
        {"ones up to the FCS",
         messageFromBytes({0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF})},
        {"longest message, all ones after identifier 5", longestAllOnes()},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        const Bits frame = transmissionOrder(message);
        ASSERT_GT(stuffBits(frame).size(), frame.size());  // The case really stuffs.
        Harness harness;
        harness.feed(buildBurst(message));
        ASSERT_THAT(harness.sink.sentences, SizeIs(message.size() > 336 ? 2 : 1));
        EXPECT_EQ(messageBitsOf(harness.sink.sentences), message);
    }
}

TEST(FrameDecoder, SixOnesThenZeroEndsTheFrameAndSevenOnesDropIt) {
    const Bits message = randomMessage(168, 3);
    const Bits head = concat({idle, training24, flag, stuffedFrame(message)});
    const struct {
        const char* name;
        Bits tail;
        size_t sentences;
    } cases[] = {
        {"end flag", {0, 1, 1, 1, 1, 1, 1, 0}, 1},
        {"seventh one", {0, 1, 1, 1, 1, 1, 1, 1, 0}, 0},
        {"five ones then a stuffed 0 and no end", {0, 1, 1, 1, 1, 1, 0, 1, 0}, 0},
    };
    for (const auto& c : cases) {
        Harness harness;
        harness.feed(concat({head, c.tail, idle}));
        EXPECT_THAT(harness.sink.sentences, SizeIs(c.sentences)) << c.name;
    }
}

TEST(FrameDecoder, LongestMessageFitsAndOneByteMoreIsDropped) {
    for (const auto& [bits, sentences] : {std::pair<int, size_t>{424, 2}, {432, 0}}) {
        Harness harness;
        const Bits message = randomMessage(bits, 5);
        harness.feed(buildBurst(message));
        ASSERT_THAT(harness.sink.sentences, SizeIs(sentences)) << bits;
        if (sentences != 0) {
            EXPECT_EQ(messageBitsOf(harness.sink.sentences), message);
        }
        EXPECT_EQ(harness.decoder->state, StateTraining);
    }
}

TEST(FrameDecoder, AtMost448BitsAreStored) {
    // Stray bits between the FCS and the end flag are stored like data: after a 424-bit
    // message, 424 + 16 + 2 + 6 = 448 stored bits still reach the end flag, one stray bit more
    // makes the frame too long before it. Neither frame is whole bytes, so neither prints.
    const Bits message = randomMessage(424, 5);
    const Bits frame = transmissionOrder(message);
    const Bits fcs = referenceFcsBits(frame);
    const Bits endFlagUpToSixthOne = {0, 1, 1, 1, 1, 1, 1};
    for (const auto& [stray, reachesEndFlag] :
         {std::pair<Bits, bool>{{1, 0}, true}, {{1, 0, 1}, false}}) {
        Harness harness;
        harness.feed(concat(
            {idle, training24, flag, stuffBits(concat({frame, fcs, stray})), endFlagUpToSixthOne}));
        EXPECT_EQ(harness.decoder->state, reachesEndFlag ? StateEndFlag : StateTraining)
            << stray.size() << " stray bits";
        if (reachesEndFlag) {
            EXPECT_EQ(harness.decoder->bitCount, 448);
        }
        harness.feed(concat({{0}, idle}));
        EXPECT_THAT(harness.sink.sentences, IsEmpty()) << stray.size() << " stray bits";
    }
}

TEST(FrameDecoder, EverySingleBitErrorInDataOrFcsIsRejected) {
    const Bits message = randomMessage(168, 1, 7);
    for (int flip = 0; flip < 168 + 16; ++flip) {
        Harness harness;
        harness.feed(buildBurst(message, 24, flip));
        EXPECT_THAT(harness.sink.sentences, IsEmpty()) << "flipped bit " << flip;
    }
}

TEST(FrameDecoder, BitsBetweenAnIntactFcsAndTheEndFlagDropTheFrame) {
    // A bit clock that slips near the end of a burst adds bits after an intact FCS. The frame
    // is then no whole number of bytes, and its whole bytes with the 16 bits after them still
    // pass the check: the message must not come out with those bits appended.
    const Bits message = randomMessage(168, 1, 3);
    const Bits frame = stuffedFrame(message);
    ASSERT_EQ(frame.back(), 0);  // No run of 1s for the extra bits to extend.
    for (const Bits& extra : {Bits{1}, Bits{0}, Bits{1, 0, 1, 1, 0}, Bits{0, 1, 0, 1, 0, 1, 0}}) {
        Harness harness;
        harness.feed(concat({idle, training24, flag, frame, extra, flag, idle}));
        EXPECT_THAT(harness.sink.sentences, IsEmpty()) << extra.size() << " extra bits";
        EXPECT_EQ(harness.decoder->state, StateTraining);
    }
}

TEST(FrameDecoder, OnlyMessageIdentifiersOneToTwentySevenAreEmitted) {
    for (const auto& [id, sentences] :
         {std::pair<unsigned, size_t>{0, 0}, {1, 1}, {27, 1}, {28, 0}, {63, 0}}) {
        Harness harness;
        harness.feed(buildBurst(randomMessage(168, id)));
        EXPECT_THAT(harness.sink.sentences, SizeIs(sentences)) << "identifier " << id;
    }
}

TEST(FrameDecoder, TrainingNeedsFifteenAlternationsEndingInAZero) {
    // "00" restarts the count; n alternating bits starting with 1 follow. An even n ends in 0
    // with n alternations; after an odd n the flag's leading 0 is alternation n + 1.
    for (const auto& [alternating, sentences] :
         {std::pair<int, size_t>{13, 0}, {14, 0}, {15, 1}, {16, 1}}) {
        Bits training = {0, 0};
        for (int i = 0; i < alternating; ++i) {
            training.push_back(i % 2 == 0 ? 1 : 0);
        }
        Harness harness;
        harness.feed(
            concat({idle, training, flag, stuffedFrame(randomMessage(168, 1)), flag, idle}));
        EXPECT_THAT(harness.sink.sentences, SizeIs(sentences)) << alternating << " alternations";
    }
}

TEST(FrameDecoder, BrokenStartFlagDoesNotSpoilTheNextBurst) {
    // 25 training bits end in 0, so the next bit is the flag's leading 0 in StateStartFlag.
    // Wherever the flag breaks, the next burst with an ordinary 24-bit training must decode.
    const Bits training25 = concat({training24, {0}});
    const struct {
        const char* name;
        Bits brokenFlag;
        uint32_t deepestState;
    } cases[] = {
        {"0 after the fifth 1", {0, 1, 1, 1, 1, 1, 0}, StateFlagTail},
        {"seventh 1", {0, 1, 1, 1, 1, 1, 1, 1}, StateFlagTail},
        {"0 before the fifth 1", {0, 1, 1, 1, 0}, StateStartFlag},
    };
    for (const auto& c : cases) {
        Harness harness;
        uint32_t deepest = StateTraining;
        for (uint8_t bit : concat({idle, training25, c.brokenFlag})) {
            decodeBit(harness.decoder.get(), bit);
            deepest = std::max(deepest, harness.decoder->state);
        }
        EXPECT_EQ(deepest, c.deepestState) << c.name;
        EXPECT_EQ(harness.decoder->state, StateTraining) << c.name;
        EXPECT_EQ(harness.decoder->flagCount, 0u) << c.name;

        const Bits message = randomMessage(168, 1, 1);
        harness.feed(concat({idle, buildBurst(message)}));
        ASSERT_THAT(harness.sink.sentences, SizeIs(1)) << c.name;
        EXPECT_EQ(messageBitsOf(harness.sink.sentences), message);
    }
}

TEST(FrameDecoder, FrameWithoutDataIsIgnored) {
    Harness harness;
    harness.feed(concat({idle, training24, flag, flag, idle}));
    EXPECT_THAT(harness.sink.sentences, IsEmpty());
    EXPECT_EQ(harness.decoder->state, StateTraining);
}
