#include "tools/transmitter/six_bit.hpp"

#include <cstring>

namespace transmitter {

namespace {

// AIS armouring maps each six-bit value onto printable ASCII: 0..39 are '0'..'W' and 40..63
// are '`'..'w', skipping the eight characters 'X'..'_' (among them NMEA's reserved '\\' and '^').
// Written out as a table so that neither direction depends on the other's arithmetic.
constexpr char kAlphabet[] = "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW`abcdefghijklmnopqrstuvw";
constexpr int kAlphabetSize = 64;
constexpr int kBitsPerCharacter = 6;
constexpr int kMaxFillBits = 5;

}  // namespace

int sixBitValue(char character) {
    if (character == '\0') {
        return -1;
    }
    const char* found = std::strchr(kAlphabet, character);
    return found == nullptr ? -1 : static_cast<int>(found - kAlphabet);
}

char sixBitCharacter(int value) {
    if (value < 0 || value >= kAlphabetSize) {
        throw std::out_of_range("six-bit value out of range: " + std::to_string(value));
    }
    return kAlphabet[value];
}

Bits dearmourPayload(const std::string& payload, int fillBits) {
    const auto total = payload.size() * kBitsPerCharacter;
    if (fillBits < 0 || fillBits > kMaxFillBits || static_cast<std::size_t>(fillBits) > total) {
        throw NmeaError("fill bit count " + std::to_string(fillBits) + " does not fit payload \"" +
                        payload + "\"");
    }
    Bits bits;
    bits.reserve(total);
    for (const char character : payload) {
        const int value = sixBitValue(character);
        if (value < 0) {
            throw NmeaError(std::string("invalid payload character '") + character + "'");
        }
        for (int shift = kBitsPerCharacter - 1; shift >= 0; --shift) {
            bits.push_back(static_cast<std::uint8_t>((value >> shift) & 1));
        }
    }
    bits.resize(total - static_cast<std::size_t>(fillBits));
    return bits;
}

std::string armourBits(const Bits& bits) {
    if (bits.size() % kBitsPerCharacter != 0) {
        throw std::invalid_argument("armourBits needs a multiple of 6 bits, got " +
                                    std::to_string(bits.size()));
    }
    std::string text;
    text.reserve(bits.size() / kBitsPerCharacter);
    for (std::size_t first = 0; first < bits.size(); first += kBitsPerCharacter) {
        int value = 0;
        for (int offset = 0; offset < kBitsPerCharacter; ++offset) {
            value = value * 2 + (bits[first + offset] & 1);
        }
        text += sixBitCharacter(value);
    }
    return text;
}

}  // namespace transmitter
