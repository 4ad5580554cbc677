#pragma once

#include "tools/transmitter/six_bit.hpp"

#include <cstddef>
#include <string>
#include <vector>

/// Checks every sentence one channel's decoder hands out, as it is handed out:
///
///   !AIVDM,<count>,<number>,<seq>,<channel>,<payload>,<fill>*<HH>
///
///   count    1 or 2; two exactly when the message and its fill exceed 336 bits (56 chars)
///   number   1..count, fragments in order, the second right after the first
///   seq      empty for one sentence; otherwise the channel's message counter modulo 10,
///            the same in both fragments
///   channel  the decoder's own letter
///   payload  1..56 armoured characters ('0'..'W', '`'..'w'); 56 in a first of two
///   fill     0..5; 0 in a first of two
///   HH       XOR of the characters between '!' and '*', two uppercase hex digits
///
/// at most 76 characters in all. A complete message must carry whole bytes (the deframer
/// passes only those), 8..424 bits, with a message identifier (its first six bits) of 1..27.
class SentenceChecker {
public:
    explicit SentenceChecker(char channel) : channel_(channel) {}

    /// The SentenceCallback; `context` is a SentenceChecker.
    static void check(void* context, const char* sentence);

    /// The input has ended: no message may be left with a fragment missing.
    void finish() const;

    /// Message bits of every complete message, in order.
    const std::vector<transmitter::Bits>& messages() const { return messages_; }
    /// Every sentence, in order.
    const std::vector<std::string>& sentences() const { return sentences_; }

private:
    void checkSentence(const std::string& text);

    char channel_;
    std::vector<std::string> sentences_;
    std::vector<transmitter::Bits> messages_;
    std::string pendingPayload_;  ///< first fragment's payload while the second is due
    char pendingSequence_ = 0;    ///< and its sequence digit
};
