#include "ais/fields/payload_bits.hpp"

#include <algorithm>

namespace keelwave::ais {

namespace {

constexpr int32_t bitsPerByte = 8;
constexpr int32_t bitsPerArmouredChar = 6;
constexpr int maxFillBits = 5;
constexpr char atSign = '@';  // Six-bit 0: AIS text's padding.

// The armour maps six-bit values 0..39 to '0'..'W' and 40..63 to '`'..'w'.
int armouredValue(char character) {
    if (character >= '0' && character <= 'W') {
        return character - '0';
    }
    if (character >= '`' && character <= 'w') {
        return character - '`' + 40;
    }
    return -1;
}

// Six-bit values 0..31 stand for '@'..'_' (ASCII 64..95), 32..63 for ' '..'?' (32..63).
char sixBitAscii(uint32_t value) {
    constexpr uint32_t firstPrintable = 32;
    constexpr char upperBlock = 64;
    return static_cast<char>(value < firstPrintable ? value + upperBlock : value);
}

int bitAt(const PayloadBits& bits, int32_t index) {
    return (bits.bytes[index / bitsPerByte] >> (bitsPerByte - 1 - index % bitsPerByte)) & 1;
}

}  // namespace

std::optional<PackedPayload> packArmouredPayload(std::string_view payload, int fillBits) {
    const auto available = static_cast<int32_t>(payload.size()) * bitsPerArmouredChar;
    if (fillBits < 0 || fillBits > maxFillBits || fillBits > available) {
        return std::nullopt;
    }
    PackedPayload packed;
    packed.bitCount = available - fillBits;
    packed.bytes.assign(static_cast<std::size_t>((available + bitsPerByte - 1) / bitsPerByte), 0);
    int32_t index = 0;
    for (const char character : payload) {
        const int value = armouredValue(character);
        if (value < 0) {
            return std::nullopt;
        }
        for (int bit = bitsPerArmouredChar - 1; bit >= 0; --bit, ++index) {
            // Fill bits are not part of the message: they stay zero in the bytes.
            if (index < packed.bitCount && ((value >> bit) & 1) != 0) {
                packed.bytes[static_cast<std::size_t>(index / bitsPerByte)] |=
                    static_cast<uint8_t>(0x80u >> (index % bitsPerByte));
            }
        }
    }
    packed.bytes.resize(
        static_cast<std::size_t>((packed.bitCount + bitsPerByte - 1) / bitsPerByte));
    return packed;
}

bool holdsField(const PayloadBits& bits, int32_t offset, int32_t width) {
    return offset >= 0 && width >= 0 && offset <= bits.bitCount - width;
}

uint32_t readUnsigned(const PayloadBits& bits, int32_t offset, int32_t width) {
    uint32_t value = 0;
    for (int32_t i = 0; i < width; ++i) {
        value = (value << 1) | static_cast<uint32_t>(bitAt(bits, offset + i));
    }
    return value;
}

int32_t readSigned(const PayloadBits& bits, int32_t offset, int32_t width) {
    const auto raw = static_cast<int64_t>(readUnsigned(bits, offset, width));
    const int64_t signBit = int64_t{1} << (width - 1);
    // Sign-extends from the field's top bit.
    return static_cast<int32_t>((raw ^ signBit) - signBit);
}

std::string readSixBitChars(const PayloadBits& bits, int32_t offset, int32_t chars) {
    std::string text;
    for (int32_t i = 0; i < chars; ++i) {
        text +=
            sixBitAscii(readUnsigned(bits, offset + i * bitsPerArmouredChar, bitsPerArmouredChar));
    }
    return text;
}

std::string trimAisText(std::string text) {
    text.erase(std::min(text.find(atSign), text.size()));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string readSixBitText(const PayloadBits& bits, int32_t offset, int32_t chars) {
    return trimAisText(readSixBitChars(bits, offset, chars));
}

std::string readHexData(const PayloadBits& bits, int32_t offset, int32_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text = std::to_string(count) + ":";
    for (int32_t start = 0; start < count; start += bitsPerByte) {
        uint32_t byte = 0;
        for (int32_t i = 0; i < bitsPerByte; ++i) {
            const int bit = start + i < count ? bitAt(bits, offset + start + i) : 0;
            byte = (byte << 1) | static_cast<uint32_t>(bit);
        }
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

}  // namespace keelwave::ais
