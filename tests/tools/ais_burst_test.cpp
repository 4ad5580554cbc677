#include "tools/transmitter/ais_burst.hpp"

#include "tools/transmitter/gaussian_noise.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace transmitter;

namespace {

Bits bitsOf(const std::string& text) {
    Bits bits;
    for (const char character : text) {
        bits.push_back(character == '1' ? 1 : 0);
    }
    return bits;
}

std::string textOf(const Bits& bits) {
    std::string text;
    for (const std::uint8_t bit : bits) {
        text += bit != 0 ? '1' : '0';
    }
    return text;
}

// Bit-serial reference of the reflected register, as a receiver runs it bit by bit.
std::uint16_t serialCrc(const std::vector<std::uint8_t>& bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool feedback = ((crc ^ (byte >> bit)) & 1) != 0;
            crc = static_cast<std::uint16_t>(feedback ? (crc >> 1) ^ 0x8408 : crc >> 1);
        }
    }
    return crc;
}

// Removes the 0 after each run of five 1s; fails the test where a stuffed bit is not a 0.
Bits destuff(const Bits& bits) {
    Bits plain;
    int ones = 0;
    for (std::size_t index = 0; index < bits.size(); ++index) {
        if (ones == 5) {
            EXPECT_EQ(bits[index], 0) << "no stuffed 0 at bit " << index;
            ones = 0;
            continue;
        }
        plain.push_back(bits[index]);
        ones = bits[index] != 0 ? ones + 1 : 0;
    }
    return plain;
}

std::vector<std::uint8_t> bytesLsbFirst(const Bits& bits) {
    std::vector<std::uint8_t> bytes(bits.size() / 8, 0);
    for (std::size_t index = 0; index < bytes.size() * 8; ++index) {
        bytes[index / 8] |= static_cast<std::uint8_t>(bits[index] << (index % 8));
    }
    return bytes;
}

const std::string kPreamble =
    "11111111"
    "010101010101010101010101"
    "01111110";
const std::string kTrailer =
    "01111110"
    "1111";

// The stuffed frame between the flags of a burst.
Bits frameBody(const Bits& burst) {
    return Bits(burst.begin() + static_cast<long>(kPreamble.size()),
                burst.end() - static_cast<long>(kTrailer.size()));
}

}  // namespace

TEST(FrameCheckSequence, GivesTheX25CheckValueAndResidue) {
    const std::vector<std::uint8_t> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const std::uint16_t fcs = frameCheckSequence(digits);
    EXPECT_EQ(fcs, 0x906E);
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : digits) {
        crc = crc16X25Update(crc, byte);
    }
    crc = crc16X25Update(crc, static_cast<std::uint8_t>(fcs & 0xFF));
    EXPECT_EQ(crc16X25Update(crc, static_cast<std::uint8_t>(fcs >> 8)), 0xF0B8);
}

TEST(FrameCheckSequence, MatchesTheBitSerialRegisterOnRandomFrames) {
    GaussianNoise random = makeGaussianNoise(7);
    for (int frame = 0; frame < 200; ++frame) {
        std::vector<std::uint8_t> bytes(1 + frame % 60);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(nextUniform(random) * 256.0);
        }
        ASSERT_EQ(frameCheckSequence(bytes), static_cast<std::uint16_t>(~serialCrc(bytes)));
    }
}

TEST(BitStuffing, InsertsAZeroExactlyAfterFiveOnes) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        const char* expected;  // on-air order: each byte least significant bit first
    } cases[] = {
        {{0x00}, "00000000"},
        {{0x1F}, "111110000"},
        {{0x0F}, "11110000"},
        {{0xFF}, "111110111"},
        {{0x7E}, "011111010"},  // a flag pattern in the data never goes out as a flag
        {{0xF0, 0x01},
         "00001111"
         "1"
         "0"
         "0000000"},  // run carried across the byte boundary
        {{0xFF, 0xFF}, "1111101111101111101"},
        {{0x3E, 0x00},
         "0111110"
         "0"
         "0"
         "00000000"},  // five 1s then a data 0: still stuffed
    };
    for (const Case& c : cases) {
        EXPECT_EQ(textOf(stuffBytes(c.bytes)), c.expected);
    }
}

TEST(BurstBits, FramesAMessageWithTrainingFlagsAndStuffedFcs) {
    const Bits message = bitsOf(std::string(168, '1'));  // worst case for stuffing
    const Bits burst = burstBits(message);
    const std::string text = textOf(burst);
    ASSERT_GT(text.size(), kPreamble.size() + kTrailer.size());
    EXPECT_EQ(text.substr(0, kPreamble.size()), kPreamble);
    EXPECT_EQ(text.substr(text.size() - kTrailer.size()), kTrailer);

    const std::string body = textOf(frameBody(burst));
    EXPECT_EQ(body.find("111111"), std::string::npos) << "six 1s inside the frame";
    const Bits plain = destuff(frameBody(burst));
    ASSERT_EQ(plain.size(), 168u + 16u);
    const std::vector<std::uint8_t> bytes = bytesLsbFirst(plain);
    EXPECT_EQ(serialCrc(bytes), 0xF0B8);  // data and FCS leave the receiver's residue
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 21),
              std::vector<std::uint8_t>(21, 0xFF));
}

TEST(BurstBits, StuffsRunsThatCrossIntoTheFcsAndPadsToWholeBytes) {
    // Look for messages whose trailing 1s run on into the FCS: the stuffed 0 then falls
    // inside the FCS bits, and the destuffed frame must still carry data + FCS intact.
    int crossings = 0;
    for (unsigned value = 0; value < 4096; ++value) {
        Bits message = bitsOf("000001");  // identifier 1, then 6 variable bits, 3 pad bits
        for (int bit = 5; bit >= 0; --bit) {
            message.push_back(static_cast<std::uint8_t>((value >> bit) & 1));
        }
        message.push_back(1);
        const Bits plain = destuff(frameBody(burstBits(message)));
        ASSERT_EQ(plain.size(), 16u + 16u) << "13 bits pad to two whole bytes";
        const std::vector<std::uint8_t> bytes = bytesLsbFirst(plain);
        ASSERT_EQ(serialCrc(bytes), 0xF0B8);
        const std::vector<std::uint8_t> data = packBytes(padToWholeBytes(message));
        ASSERT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 2), data);
        // Last data bit on air is the most significant of byte 1; FCS follows.
        int onesBefore = 0;
        for (std::size_t index = 16; index-- > 0 && plain[index] != 0;) {
            ++onesBefore;
        }
        int onesAfter = 0;
        for (std::size_t index = 16; index < plain.size() && plain[index] != 0; ++index) {
            ++onesAfter;
        }
        crossings += onesBefore % 5 > 0 && onesBefore % 5 + onesAfter >= 5;
    }
    EXPECT_GT(crossings, 0);
}

TEST(PackBytes, PutsTheFirstMessageBitInTheMostSignificantPlace) {
    EXPECT_EQ(packBytes(bitsOf("1000000000000001")), (std::vector<std::uint8_t>{0x80, 0x01}));
    EXPECT_EQ(padToWholeBytes(bitsOf("101")), bitsOf("10100000"));
    EXPECT_EQ(padToWholeBytes(bitsOf(std::string(168, '1'))).size(), 168u);
    EXPECT_THROW(packBytes(bitsOf("101")), std::invalid_argument);
}

TEST(Nrzi, ZeroTogglesTheLevelAndOneKeepsIt) {
    struct Case {
        const char* bits;
        std::uint8_t startLevel;
        const char* levels;
    } cases[] = {
        {"0000", 0, "1010"}, {"1111", 0, "0000"},     {"1111", 1, "1111"},
        {"0110", 1, "0001"}, {"010101", 0, "110011"},  // training: the level changes every second
                                                       // bit
    };
    for (const Case& c : cases) {
        EXPECT_EQ(textOf(nrziEncode(bitsOf(c.bits), c.startLevel)), c.levels) << c.bits;
    }
}
