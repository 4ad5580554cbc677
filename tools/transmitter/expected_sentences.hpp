#pragma once

#include "tools/transmitter/six_bit.hpp"

#include <string>
#include <vector>

namespace keelwave::transmitter {

/// The largest message a receiver passes on: 53 whole bytes. With the 16-bit FCS and the
/// end flag's first six bits a longer frame overruns the receiver's 448-bit frame store.
constexpr std::size_t maxMessageBits = 424;

/// Whether a correct receiver prints a message, judged on its bits padded to whole bytes.
enum class MessageVerdict {
    printed,
    empty,              ///< no bits at all: nothing to frame
    invalidIdentifier,  ///< message identifier 0 or above 27
    tooLong,            ///< more than 424 bits once padded to whole bytes
};

MessageVerdict receiverVerdict(const Bits& messageBits);

/// A few words on a verdict, for notes to the user ("message identifier 0", ...).
std::string verdictText(MessageVerdict verdict, const Bits& messageBits);

/// The sequential message identifier a receiver keeps per channel: it starts at 0 and
/// advances (modulo 10) for every message printed on that channel, one-sentence ones included.
struct SequenceCounters {
    int channelA = 0;
    int channelB = 0;
};

/// "!" + `body` + "*" + the XOR of the body's characters as two uppercase hex digits.
std::string withChecksum(const std::string& body);

/// The sentences a correct receiver prints for `messageBits` received on `channel` ('A' or
/// 'B'): the bits are padded to whole bytes first, as they travel on air. Up to 336 padded
/// bits make one sentence "!AIVDM,1,1,,A,<payload>,<fill>*HH"; more make two, the first with
/// 56 payload characters and fill 0, both carrying the channel's sequence id. Advances the
/// channel's counter.
std::vector<std::string> expectedSentences(const Bits& messageBits, char channel,
                                           SequenceCounters& counters);

}  // namespace keelwave::transmitter
