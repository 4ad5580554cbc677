// The deframer fed arbitrary decoded bit streams (1 = no level change, 0 = a change).
//
// Input: byte 0 chooses the layout of the rest and the channel:
//   bit 2   1: a run of messages, each a length byte n and n message bytes (fewer where the
//              input ends), sent as whole bursts with a right FCS by the transmitter model
//   bit 0   (bit 2 clear) 0: every byte carries 8 bits, least significant first
//                         1: every byte carries one bit, its lowest (insertions and deletions
//                            are then bit slips, as a drifting bit clock makes them)
//   bit 1   0: channel A, 1: channel B
//
// Invariants: every sentence is well formed, the deframer stays in range, and every message
// that comes out was in the stream intact: the bits up to the one that emitted it end with
//
//   >= 15 alternating bits, 01111110, stuffed(message bytes + FCS), 01111110
//
// by the model's CRC and stuffing. Messages as input give exactly the model's sentences.
#include "ais/frame_decoder.hpp"
#include "fuzz/invariants.hpp"
#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/expected_sentences.hpp"

#include <algorithm>
#include <memory>

namespace transmitter = keelwave::transmitter;

using namespace keelwave::ais;

namespace {

using transmitter::Bits;

constexpr std::size_t trainingAlternations = 15;

/// The bursts of the messages the input lays out, and the sentences the model expects of them.
Bits burstsOf(const uint8_t* data, std::size_t size, char channel,
              std::vector<std::string>& expected) {
    Bits bits;
    transmitter::SequenceCounters counters;
    for (std::size_t at = 0; at < size;) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        Bits message;
        for (std::size_t i = 0; i < length * 8; ++i) {
            message.push_back((data[at + 1 + i / 8] >> (7 - i % 8)) & 1);
        }
        at += 1 + length;
        const Bits burst = transmitter::burstBits(message);
        bits.insert(bits.end(), burst.begin(), burst.end());
        if (transmitter::receiverVerdict(message) == transmitter::MessageVerdict::printed) {
            const auto sentences = transmitter::expectedSentences(message, channel, counters);
            expected.insert(expected.end(), sentences.begin(), sentences.end());
        }
    }
    return bits;
}

void checkCarriedIntact(const Bits& bits, std::size_t end, const Bits& message) {
    const Bits burst = transmitter::burstBits(message);
    // From the start flag to the end flag: what the burst carries after its training.
    const Bits frame(burst.begin() + transmitter::rampUpBits + transmitter::trainingBits,
                     burst.end() - transmitter::rampDownBits);
    const std::size_t start = end - frame.size();
    if (end < frame.size() + trainingAlternations ||
        !std::equal(frame.begin(), frame.end(), bits.begin() + static_cast<long>(start)) ||
        std::adjacent_find(bits.begin() + static_cast<long>(start - trainingAlternations),
                           bits.begin() + static_cast<long>(start)) !=
            bits.begin() + static_cast<long>(start)) {
        invariantBroken("a message the stream does not carry intact after a training");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char channel = (data[0] & 2) != 0 ? 'B' : 'A';
    std::vector<std::string> expected;
    Bits bits;
    if ((data[0] & 4) != 0) {
        bits = burstsOf(data + 1, size - 1, channel, expected);
    }
    for (std::size_t i = 1; (data[0] & 4) == 0 && i < size; ++i) {
        for (int j = 0; j < ((data[0] & 1) != 0 ? 1 : 8); ++j) {
            bits.push_back((data[i] >> j) & 1);
        }
    }
    const auto frontEnd = std::make_unique<CheckedFrontEnd>(channel);
    const SentenceChecker& checker = frontEnd->checker;
    FrameDecoder* decoder = &frontEnd->receiver.frameDecoder;
    for (std::size_t i = 0, heard = 0; i < bits.size(); ++i) {
        decodeBit(decoder, bits[i]);
        checkDeframerState(*decoder);
        for (; heard < checker.messages().size(); ++heard) {
            checkCarriedIntact(bits, i + 1, checker.messages()[heard]);
        }
    }
    checker.finish();
    if ((data[0] & 4) != 0 && checker.sentences() != expected) {
        invariantBroken("sentences other than the transmitter model's");
    }
    return 0;
}
