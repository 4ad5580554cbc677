#pragma once

#include "ais/ais_message.hpp"
#include "ais/decoder_callbacks.hpp"
#include "ais/sentence_encoder.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/gmsk_pulse.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <fstream>
#include <string>
#include <vector>

namespace keelwave::test {

/// The messages of real sentences in tests/data (provenance in tests/data/README.md).
inline std::vector<transmitter::Bits> realMessages(const std::string& name) {
    std::ifstream file(std::string(PROJECT_DIR) + "/tests/data/" + name);
    std::vector<transmitter::Bits> messages;
    for (const transmitter::AisMessage& message : transmitter::readNmeaMessages(file).messages) {
        messages.push_back(message.bits);
    }
    return messages;
}

/// 298 real sentences of every message type.
inline const std::vector<transmitter::Bits>& corpus() {
    static const auto messages = realMessages("real-aivdm-sample.nmea");
    return messages;
}

inline const transmitter::GmskPulse& aisPulse() {
    static const auto pulse = transmitter::makeGmskPulse();
    return pulse;
}

/// What a correct receiver prints for `messages` received in this order on `channel`.
inline std::vector<std::string> expectedFor(const std::vector<transmitter::Bits>& messages,
                                            char channel = 'A') {
    transmitter::SequenceCounters counters;
    std::vector<std::string> sentences;
    for (const transmitter::Bits& message : messages) {
        if (transmitter::receiverVerdict(message) == transmitter::MessageVerdict::printed) {
            const auto printed = transmitter::expectedSentences(message, channel, counters);
            sentences.insert(sentences.end(), printed.begin(), printed.end());
        }
    }
    return sentences;
}

/// A MessageCallback that keeps the sentences of every message in the
/// std::vector<std::string> `context`.
inline void collectSentences(void* context, const ais::AisMessage& message) {
    for (int32_t index = 0; index < message.sentenceCount; ++index) {
        static_cast<std::vector<std::string>*>(context)->emplace_back(message.sentence(index));
    }
}

/// A sink that keeps the sentences of every message in `sentences`.
inline ais::MessageSink sentencesInto(std::vector<std::string>& sentences) {
    return {&collectSentences, &sentences};
}

/// A FrameCallback that hands each frame to the SentenceEncoder `context`.
inline void encodeFrame(void* context, const uint8_t* payloadBits, int32_t messageBits) {
    static_cast<ais::SentenceEncoder*>(context)->emit(payloadBits, messageBits, ais::Reception{});
}

}  // namespace keelwave::test
