#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bits of one AIS message as the sentences carry them: packed eight to a byte, the first
// bit of the message in the most significant bit of bytes[0]. Every field is read most
// significant bit first; a read never looks past bitCount, so a short message cannot make a
// field out of bits it does not have.

namespace keelwave::ais {

/// A read-only view of a message's packed bits.
struct PayloadBits {
    const uint8_t* bytes = nullptr;
    int32_t bitCount = 0;  ///< message bits; bytes holds at least (bitCount + 7) / 8
};

/// A message's bits packed by `packArmouredPayload`, owning its bytes.
struct PackedPayload {
    std::vector<uint8_t> bytes;
    int32_t bitCount = 0;
};

/// The bits that the armoured payload text of a message's sentences carries (the payloads of
/// a group's sentences joined), less the `fillBits` (0..5) of the last one. Empty when a
/// character is outside the six-bit alphabet ('0'..'W', '`'..'w') or the fill is out of range.
std::optional<PackedPayload> packArmouredPayload(std::string_view payload, int fillBits);

/// Whether bits [offset, offset + width) all lie inside the message.
bool holdsField(const PayloadBits& bits, int32_t offset, int32_t width);

/// The unsigned field of `width` (1..32) bits at `offset`; the caller checks `holdsField`.
uint32_t readUnsigned(const PayloadBits& bits, int32_t offset, int32_t width);

/// The two's-complement field of `width` (2..32) bits at `offset`.
int32_t readSigned(const PayloadBits& bits, int32_t offset, int32_t width);

/// `chars` six-bit characters from `offset` as they are: 0 is '@', 1..31 'A'..'_', 32..63
/// ' '..'?'.
std::string readSixBitChars(const PayloadBits& bits, int32_t offset, int32_t chars);

/// AIS text as gpsd shows it: cut at the first '@' (the padding), trailing blanks dropped.
std::string trimAisText(std::string text);

/// `trimAisText` of `readSixBitChars`.
std::string readSixBitText(const PayloadBits& bits, int32_t offset, int32_t chars);

/// Bits [offset, offset + count) as gpsd shows binary data: "count:" and the bits in lower
/// case hexadecimal, two digits a byte, the last byte padded with zero bits.
std::string readHexData(const PayloadBits& bits, int32_t offset, int32_t count);

}  // namespace keelwave::ais
