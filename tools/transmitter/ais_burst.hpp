#pragma once

#include "tools/transmitter/six_bit.hpp"

#include <cstdint>
#include <vector>

namespace keelwave::transmitter {

/// Line bits of one burst, before NRZI, in the order they go on air:
///
///     ramp-up  training 0101...  flag      data bytes + FCS, stuffed  flag      ramp-down
///     8 x '1'  24 bits           01111110  LSB of each byte first     01111110  4 x '1'
///
/// The ramp bits keep the carrier on one frequency while the transmitter's power settles.
constexpr int rampUpBits = 8;
constexpr int trainingBits = 24;
constexpr int flagBits = 8;
constexpr int rampDownBits = 4;
constexpr std::uint8_t hdlcFlag = 0x7E;  // 01111110, the same whichever end is sent first

/// Message bits padded with zeros up to a whole number of bytes; AIS frames carry whole bytes.
Bits padToWholeBytes(Bits bits);

/// Bytes of padded message bits, the message's first bit in the most significant place.
std::vector<std::uint8_t> packBytes(const Bits& paddedBits);

/// One byte through the CRC-16/X.25 register (polynomial 0x1021, processed reflected).
std::uint16_t crc16X25Update(std::uint16_t crc, std::uint8_t byte);

/// The 16-bit frame check sequence of `bytes`: register from 0xFFFF, complemented at the end.
/// Sent low byte first; the register run over the bytes and the FCS ends at 0xF0B8.
std::uint16_t frameCheckSequence(const std::vector<std::uint8_t>& bytes);

/// The bits of `bytes`, each byte least significant bit first, with a 0 inserted after every
/// run of five 1s; runs count across byte boundaries.
Bits stuffBytes(const std::vector<std::uint8_t>& bytes);

/// The complete line bits of a burst carrying `messageBits` (padded here to whole bytes).
Bits burstBits(const Bits& messageBits);

/// NRZI: a 0 toggles the level, a 1 keeps it. Returns one level per bit, starting from
/// `startLevel` before the first bit.
Bits nrziEncode(const Bits& bits, std::uint8_t startLevel = 0);

}  // namespace keelwave::transmitter
