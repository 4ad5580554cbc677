#include "ais/frame_check.hpp"

#include "ais/frame_decoder.hpp"

#include <cstring>

namespace keelwave::ais {

namespace {

constexpr uint16_t crcPreset = 0xFFFF;
constexpr uint16_t crcPolynomialReflected = 0x8408;  // x^16 + x^12 + x^5 + 1, LSB first.
constexpr uint16_t crcGoodResidue = 0xF0B8;          // Register after data plus intact FCS.
constexpr int32_t bitsPerByte = 8;
constexpr int32_t messageIdBits = 6;
constexpr uint32_t highestMessageId = 27;

}  // namespace

int32_t checkFrame(const uint8_t* frameBits, int32_t frameBitCount, uint8_t* bytes,
                   uint8_t* payloadBits, bool* fcsFailed) {
    const int32_t dataBits = frameBitCount - frameCheckBits;
    if (dataBits <= 0 || dataBits % bitsPerByte != 0 || dataBits > longestMessageBits) {
        return 0;
    }
    const int32_t dataBytes = dataBits / bitsPerByte;
    const int32_t frameBytes = frameBitCount / bitsPerByte;
    for (int32_t i = 0; i < frameBytes; ++i) {
        uint8_t byte = 0;
        for (int32_t j = 0; j < bitsPerByte; ++j) {
            byte |= static_cast<uint8_t>(frameBits[bitsPerByte * i + j] << j);
        }
        bytes[i] = byte;
    }
    uint16_t crc = crcPreset;
    for (int32_t i = 0; i < frameBytes; ++i) {
        for (int32_t j = 0; j < bitsPerByte; ++j) {
            const uint16_t bit = (bytes[i] >> j) & 1u;
            crc = ((crc ^ bit) & 1u) != 0 ? (crc >> 1) ^ crcPolynomialReflected : crc >> 1;
        }
    }
    std::memset(payloadBits, 0, frameBitCapacity);
    for (int32_t i = 0; i < dataBytes; ++i) {
        for (int32_t j = 0; j < bitsPerByte; ++j) {
            payloadBits[bitsPerByte * i + j] = (bytes[i] >> (bitsPerByte - 1 - j)) & 1u;
        }
    }
    if (fcsFailed != nullptr) {
        *fcsFailed = crc != crcGoodResidue;
    }
    uint32_t messageId = 0;
    for (int32_t i = 0; i < messageIdBits; ++i) {
        messageId = (messageId << 1) | payloadBits[i];
    }
    if (crc != crcGoodResidue || messageId == 0 || messageId > highestMessageId) {
        return 0;
    }
    return dataBits;
}

}  // namespace keelwave::ais
