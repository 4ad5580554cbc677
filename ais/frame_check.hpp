#pragma once

#include <cstdint>

// The last step of every decoding chain: whether a destuffed frame is a message to print.
//
// A frame, as it is left once the flags and the stuffed zeros are gone, is its data bytes and
// then the 16-bit FCS, every byte sent least significant bit first. The FCS is CRC-16/X.25
// (HDLC): polynomial x^16 + x^12 + x^5 + 1 taken least significant bit first (the reflected
// constant 0x8408), register preset to 0xFFFF, sent complemented and low byte first, so that
// the register run over the data and the received FCS ends at the fixed residue 0xF0B8 for an
// intact frame. A message is printed when that residue comes out, the data are whole bytes,
// at most 53 of them, and the message identifier (the first six message bits) is 1..27.

namespace keelwave::ais {

/// Most message bits a frame may carry: 53 whole bytes, the longest message (five slots). Every
/// other limit of a frame follows from it.
constexpr int32_t longestMessageBits = 424;
constexpr int32_t longestMessageBytes = longestMessageBits / 8;
/// Bits of the frame check sequence that ends every frame.
constexpr int32_t frameCheckBits = 16;
/// Bytes of the longest frame, FCS included: room enough for `checkFrame`'s packing buffer.
constexpr int32_t longestFrameBytes = (longestMessageBits + frameCheckBits) / 8;
/// The deframers keep, after the data and the FCS, the end flag's leading 0 and five 1s until
/// its sixth 1 tells them the frame has ended: 446 bits for the longest frame.
constexpr int32_t endFlagStoredBits = 6;
constexpr int32_t longestStoredFrameBits = longestMessageBits + frameCheckBits + endFlagStoredBits;
/// Entries of every per-bit frame buffer: the longest stored frame and four to spare, which
/// the classic deframer fills up to its last but one before it gives a frame up as too long.
constexpr int32_t frameBitCapacity = longestStoredFrameBits + 4;

/// Checks the destuffed frame `frameBits[0..frameBitCount-1]` (data then FCS, one bit per
/// byte, 0 or 1, in order of arrival). Packs its bytes into `bytes` (room for frameBitCount / 8
/// of them), clears the frameBitCapacity entries of `payloadBits` and unpacks the data bytes into
/// it in message order, each byte's most significant bit first (the last one received). Returns the
/// number of message bits when the frame carries a message to print, else 0 (payloadBits then
/// holds whatever the whole bytes gave, or nothing when the length is wrong). With
/// `fcsFailed`, tells whether a frame of a length to be checked failed its FCS.
int32_t checkFrame(const uint8_t* frameBits, int32_t frameBitCount, uint8_t* bytes,
                   uint8_t* payloadBits, bool* fcsFailed = nullptr);

}  // namespace keelwave::ais
