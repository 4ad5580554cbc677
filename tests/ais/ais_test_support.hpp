#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Small, deliberately plain models of the transmitting side, used to drive the decoding
// chain and to check what comes out of it.

using Bits = std::vector<uint8_t>;

struct AisReceiver;

/// Feeds `samples` to `receiver` in blocks of 4096 (the last one shorter), as a channel hands
/// them on.
void processInChannelBlocks(AisReceiver* receiver, const std::vector<int16_t>& samples);

/// Collects the sentences handed to a SentenceCallback.
struct SentenceSink {
    std::vector<std::string> sentences;
    static void collect(void* context, const char* sentence);
};

/// CRC-16/X.25 in the non-reflected shift-register form, over bits in transmission order.
/// Returns the register (preset 0xFFFF, no final complement).
uint16_t referenceCrcRegister(const Bits& bits);

/// The 16 FCS bits in transmission order for `bits`: the complemented register, high bit first
/// in this form (which is the reflected register's low byte first, least significant first).
Bits referenceFcsBits(const Bits& bits);

/// Message bits (message order, length a multiple of 8) as sent: each byte least significant
/// bit first, message bit 0 being the byte's most significant bit.
Bits transmissionOrder(const Bits& messageBits);

/// Inserts a 0 after every five consecutive 1s.
Bits stuffBits(const Bits& bits);

/// One burst as decoded bits: idle 1s, `trainingBits` alternating bits starting with 0, start
/// flag, stuffed data + FCS, end flag, idle 1s. `flipIndex` >= 0 inverts that bit of the
/// unstuffed data + FCS before stuffing.
Bits buildBurst(const Bits& messageBits, int trainingBits = 24, int flipIndex = -1);

/// `count` pseudo-random message bits (fixed seed) whose first six bits are `messageId`.
Bits randomMessage(int count, unsigned messageId, unsigned seed = 1);

/// The message bits carried by one or two consecutive sentences (payload de-armoured, fill
/// bits removed).
Bits messageBitsOf(const std::vector<std::string>& sentences);

/// Message bits of an "!AIVDM" payload string and fill count.
Bits payloadToBits(const std::string& payload, int fill);

/// Splits a sentence at its commas.
std::vector<std::string> sentenceFields(const std::string& sentence);
