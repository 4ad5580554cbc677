#include "tools/transmitter/expected_sentences.hpp"

#include "tools/transmitter/ais_burst.hpp"

#include <cstdio>
#include <stdexcept>

namespace keelwave::transmitter {

namespace {

constexpr std::size_t identifierBits = 6;
constexpr int highestIdentifier = 27;
constexpr std::size_t charactersPerSentence = 56;  // 336 bits keep a sentence within 82 chars
constexpr std::size_t bitsPerCharacter = 6;
constexpr int sequenceIds = 10;  // one decimal digit

int messageIdentifier(const Bits& paddedBits) {
    int identifier = 0;
    for (std::size_t index = 0; index < identifierBits; ++index) {
        identifier = identifier * 2 + paddedBits[index];
    }
    return identifier;
}

}  // namespace

MessageVerdict receiverVerdict(const Bits& messageBits) {
    if (messageBits.empty()) {
        return MessageVerdict::empty;
    }
    const Bits padded = padToWholeBytes(messageBits);
    if (padded.size() > maxMessageBits) {
        return MessageVerdict::tooLong;
    }
    const int identifier = messageIdentifier(padded);
    if (identifier == 0 || identifier > highestIdentifier) {
        return MessageVerdict::invalidIdentifier;
    }
    return MessageVerdict::printed;
}

std::string verdictText(MessageVerdict verdict, const Bits& messageBits) {
    switch (verdict) {
        case MessageVerdict::printed:
            return "printed";
        case MessageVerdict::empty:
            return "empty message";
        case MessageVerdict::invalidIdentifier:
            return "message identifier " +
                   std::to_string(messageIdentifier(padToWholeBytes(messageBits)));
        case MessageVerdict::tooLong:
            return std::to_string(padToWholeBytes(messageBits).size()) +
                   " bits, more than a frame carries";
    }
    return "unknown";
}

std::string withChecksum(const std::string& body) {
    unsigned sum = 0;
    for (const char character : body) {
        sum ^= static_cast<unsigned char>(character);
    }
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", sum);
    return "!" + body + "*" + digits;
}

std::vector<std::string> expectedSentences(const Bits& messageBits, char channel,
                                           SequenceCounters& counters) {
    if (channel != 'A' && channel != 'B') {
        throw std::invalid_argument(std::string("channel must be A or B, got '") + channel + "'");
    }
    Bits bits = padToWholeBytes(messageBits);
    const std::size_t fill = (bitsPerCharacter - bits.size() % bitsPerCharacter) % bitsPerCharacter;
    bits.resize(bits.size() + fill, 0);
    const std::string payload = armourBits(bits);

    int& counter = channel == 'A' ? counters.channelA : counters.channelB;
    const std::string sequenceId = std::to_string(counter);
    counter = (counter + 1) % sequenceIds;

    const std::string channelField = std::string(1, channel) + ",";
    if (payload.size() <= charactersPerSentence) {
        return {withChecksum("AIVDM,1,1,," + channelField + payload + "," + std::to_string(fill))};
    }
    const std::size_t count = (payload.size() + charactersPerSentence - 1) / charactersPerSentence;
    std::vector<std::string> sentences;
    for (std::size_t number = 1; number <= count; ++number) {
        const std::string piece =
            payload.substr((number - 1) * charactersPerSentence, charactersPerSentence);
        const std::size_t pieceFill = number == count ? fill : 0;
        sentences.push_back(withChecksum("AIVDM," + std::to_string(count) + "," +
                                         std::to_string(number) + "," + sequenceId + "," +
                                         channelField + piece + "," + std::to_string(pieceFill)));
    }
    return sentences;
}

}  // namespace keelwave::transmitter
