#include "tools/transmitter/six_bit.hpp"

#include <cstring>

namespace keelwave::transmitter {

namespace {

// AIS armouring maps each six-bit value onto printable ASCII: 0..39 are '0'..'W' and 40..63
// are '`'..'w', skipping the eight characters 'X'..'_' (among them NMEA's reserved '\\' and '^').
// Written out as a table so that neither direction depends on the other's arithmetic.
constexpr char alphabet[] = "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW`abcdefghijklmnopqrstuvw";
constexpr int alphabetSize = 64;
constexpr int bitsPerCharacter = 6;
constexpr int maxFillBits = 5;

}  // namespace

int sixBitValue(char character) {
    if (character == '\0') {
        return -1;
    }
    const char* found = std::strchr(alphabet, character);
    return found == nullptr ? -1 : static_cast<int>(found - alphabet);
}

char sixBitCharacter(int value) {
    if (value < 0 || value >= alphabetSize) {
        throw std::out_of_range("six-bit value out of range: " + std::to_string(value));
    }
    return alphabet[value];
}

Bits dearmourPayload(const std::string& payload, int fillBits) {
    const auto total = payload.size() * bitsPerCharacter;
    if (fillBits < 0 || fillBits > maxFillBits || static_cast<std::size_t>(fillBits) > total) {
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
        for (int shift = bitsPerCharacter - 1; shift >= 0; --shift) {
            bits.push_back(static_cast<std::uint8_t>((value >> shift) & 1));
        }
    }
    bits.resize(total - static_cast<std::size_t>(fillBits));
    return bits;
}

std::string armourBits(const Bits& bits) {
    if (bits.size() % bitsPerCharacter != 0) {
        throw std::invalid_argument("armourBits needs a multiple of 6 bits, got " +
                                    std::to_string(bits.size()));
    }
    std::string text;
    text.reserve(bits.size() / bitsPerCharacter);
    for (std::size_t first = 0; first < bits.size(); first += bitsPerCharacter) {
        int value = 0;
        for (int offset = 0; offset < bitsPerCharacter; ++offset) {
            value = value * 2 + (bits[first + offset] & 1);
        }
        text += sixBitCharacter(value);
    }
    return text;
}

}  // namespace keelwave::transmitter
