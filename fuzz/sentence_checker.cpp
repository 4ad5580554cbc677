#include "fuzz/sentence_checker.hpp"

#include "fuzz/invariant.hpp"

namespace {

constexpr std::size_t maxSentenceLength = 76;  // 15 header + 56 payload + ",F*HH"
constexpr std::size_t maxPayloadChars = 56;
constexpr std::size_t bitsPerChar = 6;
constexpr std::size_t singleSentenceBits = maxPayloadChars * bitsPerChar;  // 336
constexpr int maxFillBits = 5;
constexpr std::size_t maxMessageBits = 424;  // 53 bytes: the longest frame the deframer keeps
constexpr std::size_t bitsPerByte = 8;
constexpr std::size_t messageIdBits = 6;
constexpr unsigned highestMessageId = 27;
constexpr unsigned sequenceIds = 10;  // one decimal digit
constexpr char hexDigits[] = "0123456789ABCDEF";

/// The comma-separated fields between "!" and "*", and the two checksum characters.
struct SentenceFields {
    std::vector<std::string> fields;
    std::string checksum;
};

SentenceFields splitSentence(const std::string& text) {
    const std::size_t star = text.find('*');
    if (text.empty() || text[0] != '!' || star == std::string::npos || star + 3 != text.size()) {
        invariantBroken("sentence not framed as !...*HH");
    }
    SentenceFields parts;
    std::size_t start = 1;
    while (true) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string::npos || comma > star) {
            parts.fields.push_back(text.substr(start, star - start));
            break;
        }
        parts.fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    parts.checksum = text.substr(star + 1);

    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i) {
        sum ^= static_cast<unsigned char>(text[i]);
    }
    const char expected[] = {hexDigits[sum >> 4], hexDigits[sum & 0xF], '\0'};
    if (parts.checksum != expected) {
        invariantBroken("checksum " + parts.checksum + ", expected " + expected);
    }
    return parts;
}

/// The value of a field that must be exactly one digit from `low` to `high`.
int digitField(const std::string& field, char low, char high, const char* name) {
    if (field.size() != 1 || field[0] < low || field[0] > high) {
        invariantBroken(std::string(name) + " field \"" + field + "\" out of range");
    }
    return field[0] - '0';
}

void checkPayloadCharacters(const std::string& payload) {
    if (payload.empty() || payload.size() > maxPayloadChars) {
        invariantBroken("payload of " + std::to_string(payload.size()) + " characters");
    }
    for (const char character : payload) {
        const bool low = character >= '0' && character <= 'W';
        const bool high = character >= '`' && character <= 'w';
        if (!low && !high) {
            invariantBroken(std::string("payload character '") + character + "'");
        }
    }
}

void checkMessage(const transmitter::Bits& bits, std::size_t sentenceCount, int fill) {
    if (bits.empty() || bits.size() > maxMessageBits || bits.size() % bitsPerByte != 0) {
        invariantBroken("message of " + std::to_string(bits.size()) + " bits");
    }
    const bool needsTwo = bits.size() + static_cast<std::size_t>(fill) > singleSentenceBits;
    if (needsTwo != (sentenceCount == 2)) {
        invariantBroken("message of " + std::to_string(bits.size()) + " bits in " +
                        std::to_string(sentenceCount) + " sentences");
    }
    unsigned messageId = 0;
    for (std::size_t i = 0; i < messageIdBits; ++i) {
        messageId = messageId * 2 + bits[i];
    }
    if (messageId == 0 || messageId > highestMessageId) {
        invariantBroken("message identifier " + std::to_string(messageId));
    }
}

}  // namespace

void SentenceChecker::check(void* context, const char* sentence) {
    static_cast<SentenceChecker*>(context)->checkSentence(sentence);
}

void SentenceChecker::finish() const {
    if (!pendingPayload_.empty()) {
        invariantBroken("first of two sentences without its second");
    }
}

void SentenceChecker::checkSentence(const std::string& text) {
    sentences_.push_back(text);
    if (text.size() > maxSentenceLength) {
        invariantBroken("sentence of " + std::to_string(text.size()) + " characters: " + text);
    }
    const SentenceFields parts = splitSentence(text);
    const std::vector<std::string>& fields = parts.fields;
    if (fields.size() != 7 || fields[0] != "AIVDM") {
        invariantBroken("not !AIVDM with 6 fields: " + text);
    }
    const int count = digitField(fields[1], '1', '2', "fragment count");
    const int number = digitField(fields[2], '1', static_cast<char>('0' + count), "fragment");
    const std::string& sequence = fields[3];
    if (fields[4] != std::string(1, channel_)) {
        invariantBroken("channel field \"" + fields[4] + "\" on channel " + channel_);
    }
    const std::string& payload = fields[5];
    checkPayloadCharacters(payload);
    const int fill = digitField(fields[6], '0', static_cast<char>('0' + maxFillBits), "fill");

    const char expectedSequence = static_cast<char>('0' + messages_.size() % sequenceIds);
    if (count == 1 && !sequence.empty()) {
        invariantBroken("sequence id in a single sentence: " + text);
    }
    if (count == 2 && (sequence.size() != 1 || sequence[0] != expectedSequence)) {
        invariantBroken("sequence id \"" + sequence + "\", expected " + expectedSequence);
    }
    if (!pendingPayload_.empty() && (number != 2 || sequence[0] != pendingSequence_)) {
        invariantBroken("first of two sentences followed by: " + text);
    }
    if (pendingPayload_.empty() && number != 1) {
        invariantBroken("second sentence without a first: " + text);
    }
    if (number < count) {
        if (payload.size() != maxPayloadChars || fill != 0) {
            invariantBroken("first of two sentences not full, or with fill bits: " + text);
        }
        pendingPayload_ = payload;
        pendingSequence_ = sequence[0];
        return;
    }

    const std::string whole = pendingPayload_ + payload;
    pendingPayload_.clear();
    const transmitter::Bits bits = transmitter::dearmourPayload(whole, fill);
    checkMessage(bits, static_cast<std::size_t>(count), fill);
    messages_.push_back(bits);
}
