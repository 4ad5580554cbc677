// The deframer fed arbitrary decoded bit streams (1 = no level change, 0 = a change).
//
// Input: byte 0 chooses the layout of the rest and the channel:
//   bit 2   1: messages: a run of messages, each a length byte n and n message bytes (fewer
//              where the input ends), sent as complete bursts with a correct FCS by the
//              transmitter model, so that the fuzzer can vary what a frame carries
//   bit 0   (bit 2 clear) 0: every byte carries 8 bits, least significant first
//                         1: every byte carries one bit, its lowest (so byte insertions and
//                            deletions are bit slips, as a drifting bit clock makes them)
//   bit 1   0: channel A, 1: channel B
//
// Invariants: every sentence is well formed (SentenceChecker), the deframer's counters stay in
// range, and every message that comes out was really in the stream, intact. It comes out on
// the end flag's closing 0, so the bits up to there must end with
//
//   >= 15 alternating bits, 01111110, stuffed(message bytes + FCS), 01111110
//
// where the FCS and the stuffing are computed by the independent transmitter model. With
// messages as input, exactly the sentences the model expects for them must come out.

#include "ais/frame_decoder.hpp"
#include "fuzz/checked_receiver.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/sentence_checker.hpp"
#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/expected_sentences.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr uint8_t layoutBitPerByte = 0x01;
constexpr uint8_t layoutChannelB = 0x02;
constexpr uint8_t layoutMessages = 0x04;
constexpr int bitsPerByte = 8;
constexpr std::size_t trainingAlternations = 15;  // The deframer needs at least these.

using transmitter::Bits;

Bits unpackInput(const uint8_t* data, std::size_t size, bool bitPerByte) {
    Bits bits;
    for (std::size_t i = 0; i < size; ++i) {
        if (bitPerByte) {
            bits.push_back(data[i] & 1);
            continue;
        }
        for (int j = 0; j < bitsPerByte; ++j) {
            bits.push_back((data[i] >> j) & 1);
        }
    }
    return bits;
}

/// The bursts of a run of messages (see the top), and in `expected` the sentences a correct
/// receiver prints for them.
Bits messageBursts(const uint8_t* data, std::size_t size, char channel,
                   std::vector<std::string>& expected) {
    Bits bits;
    transmitter::SequenceCounters counters;
    for (std::size_t position = 0; position < size;) {
        const std::size_t length = std::min<std::size_t>(data[position], size - position - 1);
        ++position;
        Bits message;
        for (std::size_t i = 0; i < length; ++i, ++position) {
            for (int j = bitsPerByte - 1; j >= 0; --j) {
                message.push_back((data[position] >> j) & 1);
            }
        }
        const Bits burst = transmitter::burstBits(message);
        bits.insert(bits.end(), burst.begin(), burst.end());
        if (transmitter::receiverVerdict(message) == transmitter::MessageVerdict::printed) {
            for (const std::string& sentence :
                 transmitter::expectedSentences(message, channel, counters)) {
                expected.push_back(sentence);
            }
        }
    }
    return bits;
}

/// The flag 0x7E as it goes on air, least significant bit first.
Bits flagBits() {
    Bits flag;
    for (int j = 0; j < bitsPerByte; ++j) {
        flag.push_back((transmitter::kHdlcFlag >> j) & 1);
    }
    return flag;
}

/// Aborts unless bits[0..end) ends with a training, a start flag, `message` with its FCS,
/// stuffed, and an end flag.
void checkFrameEndsAt(const Bits& bits, std::size_t end, const Bits& message) {
    std::vector<uint8_t> frame = transmitter::packBytes(message);
    const uint16_t fcs = transmitter::frameCheckSequence(frame);
    frame.push_back(static_cast<uint8_t>(fcs & 0xFF));
    frame.push_back(static_cast<uint8_t>(fcs >> 8));
    Bits expected = flagBits();
    const Bits body = transmitter::stuffBytes(frame);
    expected.insert(expected.end(), body.begin(), body.end());
    const Bits flag = flagBits();
    expected.insert(expected.end(), flag.begin(), flag.end());

    if (end < expected.size() + trainingAlternations) {
        invariantBroken("message emitted with too few bits before it");
    }
    const std::size_t start = end - expected.size();
    if (!std::equal(expected.begin(), expected.end(), bits.begin() + static_cast<long>(start))) {
        invariantBroken("message emitted that the bit stream does not carry intact");
    }
    for (std::size_t i = start - trainingAlternations; i + 1 < start; ++i) {
        if (bits[i] == bits[i + 1]) {
            invariantBroken("message emitted without a training before its start flag");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char channel = (data[0] & layoutChannelB) != 0 ? 'B' : 'A';
    const bool messages = (data[0] & layoutMessages) != 0;
    std::vector<std::string> expected;
    const Bits bits = messages ? messageBursts(data + 1, size - 1, channel, expected)
                               : unpackInput(data + 1, size - 1, (data[0] & layoutBitPerByte) != 0);

    SentenceChecker checker(channel);
    FrameDecoder* decoder = createFrameDecoder(channel, &SentenceChecker::check, &checker);
    std::size_t messagesChecked = 0;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        decodeBit(decoder, bits[i]);
        checkFrameDecoderState(*decoder);
        if (checker.messages().size() != messagesChecked) {
            if (checker.messages().size() != messagesChecked + 1) {
                invariantBroken("more than one message on one bit");
            }
            checkFrameEndsAt(bits, i + 1, checker.messages().back());
            ++messagesChecked;
        }
    }
    checker.finish();
    if (messages && checker.sentences() != expected) {
        invariantBroken("the sentences differ from the ones the transmitter model expects");
    }
    destroyFrameDecoder(decoder);
    return 0;
}
