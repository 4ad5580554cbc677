#pragma once

#include "ais/ais_message.hpp"
#include "ais/classic/ais_receiver.hpp"
#include "ais/sentence_encoder.hpp"
#include "tools/transmitter/six_bit.hpp"

#include <string>
#include <vector>

/// What the fuzz targets check besides the sanitizers: a broken invariant is printed as
/// "INVARIANT BROKEN: ..." and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] void invariantBroken(const std::string& what);

/// Checks each sentence of one channel as it is handed out:
///
///   !AIVDM,<count>,<number>,<seq>,<channel>,<payload>,<fill>*<HH>
///
/// in exactly this layout (as the transmitter model writes it: legal six-bit characters, the
/// checksum), at most 76 characters; count 1 or 2, two exactly when message and fill exceed 56
/// characters; fragments in order, the first of two full and without fill; the sequence id
/// empty for one sentence, else the channel's message count modulo 10; the channel's letter;
/// each message of whole bytes, 8..424 bits, with identifier 1..27, carried as the record's
/// bits.
class SentenceChecker {
public:
    explicit SentenceChecker(char letter) : channel(letter) {}
    /// The MessageCallback; `context` is the checker.
    static void check(void* context, const keelwave::ais::AisMessage& message);
    /// The input has ended: no message may wait for its second sentence.
    void finish() const;
    const std::vector<std::string>& sentences() const { return all; }
    /// The bits of every complete message, in order.
    const std::vector<keelwave::transmitter::Bits>& messages() const { return messageBits; }

private:
    void checkSentence(const std::string& text);

    char channel;
    std::vector<std::string> all;
    std::vector<keelwave::transmitter::Bits> messageBits;
    std::string firstPayload;  ///< of a message whose second sentence is due
};

/// Aborts unless the deframer is in state 1..5 with its counters in range.
void checkDeframerState(const keelwave::ais::FrameDecoder& deframer);

/// Aborts unless the front end is where its loops keep it: gain within the AGC's bounds, bit
/// clock within a bit, filter index inside the history, binary levels, a sane deframer.
void checkReceiverState(const keelwave::ais::AisReceiver& receiver);

/// A LevelCallback whose context is the channel letter: that channel's report, a level within
/// full scale, a gain within bounds.
void checkLevelReport(void* context, int channel, float level, float gain);

/// The classic front end of one channel with level reports on, its frames encoded and its
/// sentences and reports checked.
struct CheckedFrontEnd {
    explicit CheckedFrontEnd(char channel);
    CheckedFrontEnd(const CheckedFrontEnd&) = delete;
    CheckedFrontEnd& operator=(const CheckedFrontEnd&) = delete;

    char letter;
    SentenceChecker checker;
    keelwave::ais::SentenceEncoder encoder;
    keelwave::ais::AisReceiver receiver;
};
