#include "fuzz/invariants.hpp"

#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace transmitter = keelwave::transmitter;

using namespace keelwave::ais;

namespace {

constexpr std::size_t maxSentenceLength = 76;  // 15 header + 56 payload + ",F*HH"
constexpr std::size_t maxPayloadChars = 56;
constexpr std::size_t maxMessageBits = 424;  // 53 bytes: the longest frame kept
constexpr unsigned highestMessageId = 27;

void require(bool holds, const std::string& what) {
    if (!holds) {
        invariantBroken(what);
    }
}

bool gainInBounds(float gain) {  // outside them the AGC restarts at 1, compared in double
    return std::isfinite(gain) && gain >= 0.01 && gain <= 100.0;
}

}  // namespace

void invariantBroken(const std::string& what) {
    std::fprintf(stderr, "INVARIANT BROKEN: %s\n", what.c_str());
    std::abort();
}

void SentenceChecker::check(void* context, const AisMessage& message) {
    auto& checker = *static_cast<SentenceChecker*>(context);
    require(message.sentenceCount >= 1 && message.sentenceCount <= AisMessage::maxSentences &&
                message.channel == checker.channel,
            "a record of " + std::to_string(message.sentenceCount) + " sentences");
    for (int32_t index = 0; index < message.sentenceCount; ++index) {
        checker.checkSentence(std::string(message.sentence(index)));
    }
    require(checker.firstPayload.empty() && !checker.messageBits.empty(),
            "a record that is not one whole message");
    const transmitter::Bits& bits = checker.messageBits.back();
    require(message.bitCount == static_cast<int32_t>(bits.size()), "the record's bit count");
    for (std::size_t bit = 0; bit < bits.size(); ++bit) {
        require(((message.bytes[bit / 8] >> (7 - bit % 8)) & 1) == bits[bit], "the record's bits");
    }
}

void SentenceChecker::checkSentence(const std::string& text) {
    SentenceChecker& checker = *this;
    checker.all.push_back(text);
    transmitter::NmeaSentence parsed;
    try {
        parsed = transmitter::parseNmeaSentence(text);
    } catch (const transmitter::NmeaError& error) {
        invariantBroken(std::string(error.what()) + ": " + text);
    }
    const bool single = parsed.fragmentCount == 1;
    const std::string sequence = single ? "" : std::to_string(checker.messageBits.size() % 10);
    const std::string layout = "AIVDM," + std::to_string(parsed.fragmentCount) + "," +
                               std::to_string(parsed.fragmentNumber) + "," + sequence + "," +
                               checker.channel + "," + parsed.payload + "," +
                               std::to_string(parsed.fillBits);
    require((single || parsed.fragmentCount == 2) && text.size() <= maxSentenceLength &&
                text == transmitter::withChecksum(layout) &&
                parsed.fragmentNumber == (checker.firstPayload.empty() ? 1 : 2),
            "layout of " + text);
    if (parsed.fragmentNumber < parsed.fragmentCount) {
        require(parsed.payload.size() == maxPayloadChars && parsed.fillBits == 0,
                "first of two sentences not full: " + text);
        checker.firstPayload = parsed.payload;
        return;
    }
    const auto bits =
        transmitter::dearmourPayload(checker.firstPayload + parsed.payload, parsed.fillBits);
    checker.firstPayload.clear();
    unsigned identifier = 0;
    for (std::size_t bit = 0; bit < 6 && bit < bits.size(); ++bit) {
        identifier = identifier * 2 + bits[bit];
    }
    require(!bits.empty() && bits.size() <= maxMessageBits && bits.size() % 8 == 0 &&
                (bits.size() + static_cast<std::size_t>(parsed.fillBits) > 6 * maxPayloadChars) ==
                    !single &&
                identifier >= 1 && identifier <= highestMessageId,
            "message of " + text);
    checker.messageBits.push_back(bits);
}

void SentenceChecker::finish() const {
    require(firstPayload.empty(), "first of two sentences without its second");
}

void checkDeframerState(const FrameDecoder& deframer) {
    // Up to 448 stored bits; the start flag's 0 and six 1s; five 1s in a row restart the run.
    require(deframer.state >= StateTraining && deframer.state <= StateEndFlag &&
                deframer.bitCount >= 0 && deframer.bitCount <= 448 && deframer.flagCount <= 7 &&
                deframer.onesRun <= 3 &&
                (deframer.stuffPending == 0 || deframer.state == StateData) &&
                deframer.prevBit <= 1,
            "deframer state");
}

void checkReceiverState(const AisReceiver& receiver) {
    require(gainInBounds(receiver.gain) && receiver.pllPhase < 65536 &&
                receiver.filter.writeIndex >= firTapCount &&
                receiver.filter.writeIndex < firHistorySize && receiver.prevLevel <= 1 &&
                receiver.lastBitLevel <= 1,
            "receiver state");
    checkDeframerState(receiver.frameDecoder);
}

void checkLevelReport(void* context, int channel, float level, float gain) {
    require(channel == *static_cast<const char*>(context) && std::isfinite(level) &&
                level >= 0.0f && level < 100.0f && gainInBounds(gain),
            "level report");
}

CheckedFrontEnd::CheckedFrontEnd(char channel)
    : letter(channel),
      checker(channel),
      encoder(channel, ChainKind::classic, {&SentenceChecker::check, &checker}) {
    receiver.channel = channel;
    receiver.levelReports = 1;
    receiver.levelCallback = &checkLevelReport;
    receiver.levelContext = &letter;
    receiver.frameDecoder.frameCallback = [](void* context, const uint8_t* bits, int32_t count) {
        static_cast<SentenceEncoder*>(context)->emit(bits, count, Reception{});
    };
    receiver.frameDecoder.frameContext = &encoder;
}
