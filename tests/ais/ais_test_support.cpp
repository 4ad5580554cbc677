#include "tests/ais/ais_test_support.hpp"

#include "ais/ais_receiver.hpp"
#include "sdr/channel_demodulator.hpp"

#include <algorithm>
#include <random>
#include <sstream>

void SentenceSink::collect(void* context, const char* sentence) {
    static_cast<SentenceSink*>(context)->sentences.emplace_back(sentence);
}

void processInChannelBlocks(AisReceiver* receiver, const std::vector<int16_t>& samples) {
    for (std::size_t start = 0; start < samples.size(); start += discriminatorBlockLength) {
        const std::size_t count =
            std::min<std::size_t>(discriminatorBlockLength, samples.size() - start);
        processSamples(receiver, &samples[start], static_cast<int32_t>(count));
    }
}

uint16_t referenceCrcRegister(const Bits& bits) {
    uint16_t crc = 0xFFFF;
    for (uint8_t bit : bits) {
        const bool feedback = (((crc >> 15) ^ bit) & 1) != 0;
        crc = static_cast<uint16_t>(crc << 1);
        if (feedback) {
            crc ^= 0x1021;  // x^12 + x^5 + 1; x^16 is the bit shifted out.
        }
    }
    return crc;
}

Bits referenceFcsBits(const Bits& bits) {
    const uint16_t fcs = static_cast<uint16_t>(~referenceCrcRegister(bits));
    Bits result;
    for (int i = 15; i >= 0; --i) {
        result.push_back((fcs >> i) & 1);
    }
    return result;
}

Bits transmissionOrder(const Bits& messageBits) {
    Bits result;
    for (size_t byte = 0; byte + 8 <= messageBits.size(); byte += 8) {
        for (int j = 7; j >= 0; --j) {
            result.push_back(messageBits[byte + j]);
        }
    }
    return result;
}

Bits stuffBits(const Bits& bits) {
    Bits result;
    int ones = 0;
    for (uint8_t bit : bits) {
        result.push_back(bit);
        ones = bit ? ones + 1 : 0;
        if (ones == 5) {
            result.push_back(0);
            ones = 0;
        }
    }
    return result;
}

Bits buildBurst(const Bits& messageBits, int trainingBits, int flipIndex) {
    const Bits idle(8, 1);
    const Bits flag = {0, 1, 1, 1, 1, 1, 1, 0};
    Bits frame = transmissionOrder(messageBits);
    const Bits fcs = referenceFcsBits(frame);
    frame.insert(frame.end(), fcs.begin(), fcs.end());
    if (flipIndex >= 0) {
        frame[flipIndex] ^= 1;
    }
    Bits burst = idle;
    for (int i = 0; i < trainingBits; ++i) {
        burst.push_back(i % 2);
    }
    burst.insert(burst.end(), flag.begin(), flag.end());
    const Bits stuffed = stuffBits(frame);
    burst.insert(burst.end(), stuffed.begin(), stuffed.end());
    burst.insert(burst.end(), flag.begin(), flag.end());
    burst.insert(burst.end(), idle.begin(), idle.end());
    return burst;
}

Bits randomMessage(int count, unsigned messageId, unsigned seed) {
    std::mt19937 random(seed);
    Bits bits(count);
    for (int i = 0; i < count; ++i) {
        bits[i] = i < 6 ? (messageId >> (5 - i)) & 1 : random() & 1;
    }
    return bits;
}

Bits payloadToBits(const std::string& payload, int fill) {
    Bits bits;
    for (char c : payload) {
        int value = c - 48;
        if (value > 40) {
            value -= 8;
        }
        for (int i = 5; i >= 0; --i) {
            bits.push_back((value >> i) & 1);
        }
    }
    bits.resize(bits.size() - fill);
    return bits;
}

std::vector<std::string> sentenceFields(const std::string& sentence) {
    std::vector<std::string> fields;
    std::istringstream stream(sentence);
    for (std::string field; std::getline(stream, field, ',');) {
        fields.push_back(field);
    }
    return fields;
}

Bits messageBitsOf(const std::vector<std::string>& sentences) {
    std::string payload;
    int fill = 0;
    for (const std::string& sentence : sentences) {
        const std::vector<std::string> fields = sentenceFields(sentence);
        payload += fields.at(5);
        fill = fields.at(6).at(0) - '0';
    }
    return payloadToBits(payload, fill);
}
