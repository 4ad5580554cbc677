#include "ais/sentence_encoder.hpp"

#include <algorithm>
#include <cstring>

namespace keelwave::ais {

// An NMEA 0183 AIS sentence, e.g. one fragment of a two-sentence message:
//
//   !AIVDM,2,1,7,B,<1..56 payload chars>,0*5C
//          | | | |                       | \checksum: XOR of the characters between '!'
//          | | | |                       |  and '*', two uppercase hex digits
//          | | | channel letter          fill bits added to make whole characters (0..5)
//          | | sequential message id, empty when the message fits one sentence
//          | fragment number, 1-based
//          fragment count
//
// The payload carries six message bits per character, most significant first: the value v
// becomes v + 48 ('0'..'W') below 40 and v + 56 ('`'..'w') from 40 on.

namespace {

constexpr int32_t bitsPerChar = 6;
constexpr int32_t maxPayloadChars = 56;  // Keeps a sentence within NMEA's 82-character line.
constexpr int32_t bitsPerSentence = bitsPerChar * maxPayloadChars;
constexpr int32_t lowArmourLimit = 40;  // Six-bit values below this map to '0'..'W'.
constexpr char lowArmourOffset = 48;    // 0 -> '0'.
constexpr char highArmourOffset = 56;   // 40 -> '`'.
constexpr uint8_t lastSequenceId = 9;   // Ids run 0..9, then wrap.

// Headers with the digits and the channel patched in per sentence.
constexpr char singleHeader[] = "!AIVDM,1,1,,A,";  // Payload from column 14.
constexpr char multiHeader[] = "!AIVDM,2,1,0,A,";  // Payload from column 15.
constexpr int32_t countColumn = 7;
constexpr int32_t fragmentColumn = 9;
constexpr int32_t sequenceColumn = 11;

char digit(int32_t value) {
    return static_cast<char>('0' + value);
}

char armour(uint32_t value) {
    const char offset = value < lowArmourLimit ? lowArmourOffset : highArmourOffset;
    return static_cast<char>(value + offset);
}

char hexDigit(uint32_t nibble) {
    return "0123456789ABCDEF"[nibble & 0xF];
}

}  // namespace

SentenceEncoder::SentenceEncoder(char channel, ChainKind chain, MessageSink messageSink)
    : sink(messageSink) {
    message.channel = channel;
    message.chain = chain;
}

void SentenceEncoder::emit(const uint8_t* payloadBits, int32_t nb, const Reception& reception) {
    message.bitCount = nb;
    std::fill(std::begin(message.bytes), std::end(message.bytes), 0);
    for (int32_t bit = 0; bit < nb; ++bit) {
        message.bytes[bit / 8] |= static_cast<uint8_t>((payloadBits[bit] & 1u) << (7 - bit % 8));
    }
    message.reception = reception;
    writeSentences(payloadBits, nb);
    if (sink.callback != nullptr) {
        sink.callback(sink.context, message);
    }
    sequenceId = sequenceId >= lastSequenceId ? 0 : static_cast<uint8_t>(sequenceId + 1);
}

void SentenceEncoder::writeSentences(const uint8_t* payloadBits, int32_t nb) {
    const int32_t fill = (bitsPerChar - nb % bitsPerChar) % bitsPerChar;
    const int32_t total = nb + fill;
    const int32_t count = (total + bitsPerSentence - 1) / bitsPerSentence;
    const char* header = count == 1 ? singleHeader : multiHeader;
    const int32_t payloadColumn = static_cast<int32_t>(std::strlen(header));
    message.sentenceCount = count;

    int32_t bitPosition = 0;
    for (int32_t fragment = 1; fragment <= count; ++fragment) {
        char* text = message.sentences[fragment - 1];
        int32_t column = payloadColumn;
        for (int32_t chars = 0; bitPosition < total && chars < maxPayloadChars; ++chars) {
            uint32_t value = 0;
            for (int32_t i = 0; i < bitsPerChar; ++i, ++bitPosition) {
                // Fill bits past the message are zeros.
                const uint32_t bit = bitPosition < nb ? payloadBits[bitPosition] & 1u : 0u;
                value = (value << 1) | bit;
            }
            text[column++] = armour(value);
        }

        std::memcpy(text, header, static_cast<std::size_t>(payloadColumn));
        text[countColumn] = digit(count);
        text[fragmentColumn] = digit(fragment);
        if (count > 1) {
            text[sequenceColumn] = digit(sequenceId);
        }
        text[payloadColumn - 2] = message.channel;

        text[column++] = ',';
        text[column++] = digit(fragment == count ? fill : 0);
        uint32_t checksum = 0;
        for (int32_t i = 1; i < column; ++i) {
            checksum ^= static_cast<uint8_t>(text[i]);
        }
        text[column++] = '*';
        text[column++] = hexDigit(checksum >> 4);
        text[column++] = hexDigit(checksum);
        text[column] = '\0';
    }
}

}  // namespace keelwave::ais
