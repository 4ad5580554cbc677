#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace keelwave::transmitter {

/// Malformed NMEA input: bad framing, checksum, field or payload character.
class NmeaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Message bits, one bit (0 or 1) per entry, first bit of the message first.
using Bits = std::vector<std::uint8_t>;

/// Value 0..63 of an armoured payload character, or -1 for a character outside the alphabet.
int sixBitValue(char character);

/// The armoured character of a six-bit value (0..63).
char sixBitCharacter(int value);

/// The message bits a payload carries: six per character, most significant first, with the
/// last `fillBits` (0..5) bits dropped. Throws NmeaError on a bad character or fill count.
Bits dearmourPayload(const std::string& payload, int fillBits);

/// Armours bits whose count is a multiple of 6 (the caller pads); six bits per character.
std::string armourBits(const Bits& bits);

}  // namespace keelwave::transmitter
