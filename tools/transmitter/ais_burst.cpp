#include "tools/transmitter/ais_burst.hpp"

#include <stdexcept>
#include <string>

namespace keelwave::transmitter {

namespace {

constexpr int bitsPerByte = 8;
constexpr int stuffAfterOnes = 5;          // HDLC: a 0 follows every fifth consecutive 1
constexpr std::uint16_t crcInit = 0xFFFF;  // CRC-16/X.25 starts with all ones

void appendByteLsbFirst(Bits& out, std::uint8_t byte) {
    for (int bit = 0; bit < bitsPerByte; ++bit) {
        out.push_back(static_cast<std::uint8_t>((byte >> bit) & 1));
    }
}

}  // namespace

Bits padToWholeBytes(Bits bits) {
    bits.resize((bits.size() + bitsPerByte - 1) / bitsPerByte * bitsPerByte, 0);
    return bits;
}

std::vector<std::uint8_t> packBytes(const Bits& paddedBits) {
    if (paddedBits.size() % bitsPerByte != 0) {
        throw std::invalid_argument("packBytes needs whole bytes, got " +
                                    std::to_string(paddedBits.size()) + " bits");
    }
    std::vector<std::uint8_t> bytes(paddedBits.size() / bitsPerByte, 0);
    for (std::size_t index = 0; index < paddedBits.size(); ++index) {
        if (paddedBits[index] != 0) {
            bytes[index / bitsPerByte] |= static_cast<std::uint8_t>(0x80u >> (index % 8));
        }
    }
    return bytes;
}

std::uint16_t crc16X25Update(std::uint16_t crc, std::uint8_t byte) {
    // Byte-at-a-time form of the reflected 0x1021 register (0x8408 shifted right): the byte
    // folded into the low half is expanded into the three feedback taps x^0, x^5 and x^12 at
    // once instead of being shifted through bit by bit.
    std::uint8_t mixed = static_cast<std::uint8_t>(byte ^ (crc & 0xFF));
    mixed = static_cast<std::uint8_t>(mixed ^ (mixed << 4));
    return static_cast<std::uint16_t>((static_cast<std::uint16_t>(mixed) << 8 | crc >> 8) ^
                                      (mixed >> 4) ^ (static_cast<std::uint16_t>(mixed) << 3));
}

std::uint16_t frameCheckSequence(const std::vector<std::uint8_t>& bytes) {
    std::uint16_t crc = crcInit;
    for (const std::uint8_t byte : bytes) {
        crc = crc16X25Update(crc, byte);
    }
    return static_cast<std::uint16_t>(~crc);
}

Bits stuffBytes(const std::vector<std::uint8_t>& bytes) {
    Bits plain;
    for (const std::uint8_t byte : bytes) {
        appendByteLsbFirst(plain, byte);
    }
    Bits stuffed;
    int ones = 0;
    for (const std::uint8_t bit : plain) {
        stuffed.push_back(bit);
        ones = bit != 0 ? ones + 1 : 0;
        if (ones == stuffAfterOnes) {
            stuffed.push_back(0);
            ones = 0;
        }
    }
    return stuffed;
}

Bits burstBits(const Bits& messageBits) {
    std::vector<std::uint8_t> frame = packBytes(padToWholeBytes(messageBits));
    const std::uint16_t fcs = frameCheckSequence(frame);
    frame.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(fcs >> 8));

    Bits bits(rampUpBits, 1);
    for (int index = 0; index < trainingBits; ++index) {
        bits.push_back(static_cast<std::uint8_t>(index % 2));
    }
    appendByteLsbFirst(bits, hdlcFlag);
    const Bits body = stuffBytes(frame);
    bits.insert(bits.end(), body.begin(), body.end());
    appendByteLsbFirst(bits, hdlcFlag);
    bits.insert(bits.end(), rampDownBits, 1);
    return bits;
}

Bits nrziEncode(const Bits& bits, std::uint8_t startLevel) {
    Bits levels;
    levels.reserve(bits.size());
    std::uint8_t level = startLevel & 1;
    for (const std::uint8_t bit : bits) {
        if (bit == 0) {
            level ^= 1;
        }
        levels.push_back(level);
    }
    return levels;
}

}  // namespace keelwave::transmitter
