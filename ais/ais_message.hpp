#pragma once

#include "ais/chain_names.hpp"
#include "ais/frame_check.hpp"

#include <cmath>
#include <cstdint>
#include <string_view>

namespace keelwave::ais {

/// How a burst was received, measured by the chain from its own samples. Each member is
/// unknown until a chain measures it.
struct Reception {
    /// The burst's position in the tuner stream, as the index of an I/Q pair counted from the
    /// first pair of the source (dropped blocks included); -1 when unknown.
    int64_t streamPair = -1;
    float levelDb = NAN;   ///< power of the burst, dB of full scale
    float offsetHz = NAN;  ///< its carrier's distance from the channel's frequency
};

/// One decoded message as it leaves its chain: plain data, copied by value. Everything an
/// output may show is here: the sentences a receiver prints for it, its bits, and how it was
/// received.
struct AisMessage {
    /// Sentences of the longest message (424 bits, 71 characters) and room for the longest
    /// sentence (76 characters) with its NUL.
    static constexpr int32_t maxSentences = 2;
    static constexpr int32_t sentenceCapacity = 80;

    char channel = 'A';                    ///< 'A' or 'B'
    ChainKind chain = ChainKind::classic;  ///< the chain that heard it
    int32_t bitCount = 0;                  ///< message bits: whole bytes, 8 .. longestMessageBits
    uint8_t bytes[longestMessageBytes] = {};  ///< the message, most significant bit first
    int32_t sentenceCount = 0;
    char sentences[maxSentences][sentenceCapacity] = {};  ///< "!AIVDM,..." without line end
    Reception reception;

    std::string_view sentence(int32_t index) const { return sentences[index]; }

    /// The message identifier, 1..27: the first six bits.
    uint32_t type() const { return bytes[0] >> 2; }

    /// The user identifier of the transmitting station: bits 8..37; 0 for a message too short
    /// to carry one.
    uint32_t mmsi() const {
        constexpr int32_t mmsiEndBit = 38;
        if (bitCount < mmsiEndBit) {
            return 0;
        }
        const uint64_t first40 = (uint64_t{bytes[0]} << 32) | (uint64_t{bytes[1]} << 24) |
                                 (uint64_t{bytes[2]} << 16) | (uint64_t{bytes[3]} << 8) | bytes[4];
        constexpr uint32_t mmsiMask = (1u << 30) - 1;
        return static_cast<uint32_t>(first40 >> 2) & mmsiMask;
    }
};

}  // namespace keelwave::ais
