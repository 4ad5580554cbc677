#pragma once

#include "tools/transmitter/six_bit.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace keelwave::transmitter {

/// A sentence without its sequence id field and checksum. The sequence id counts the messages
/// printed before, so after one message is lost every later id differs; what is left still
/// identifies the sentence.
std::string withoutSequenceId(const std::string& sentence);

/// How the sentences a receiver printed compare with the messages sent.
struct ReceptionScore {
    std::size_t printable = 0;        ///< messages sent that a correct receiver prints
    std::size_t printed = 0;          ///< of those, the ones whose sentences all came back
    std::vector<std::string> strays;  ///< printed sentences that belong to no message sent
};

/// Matches `received` (in the order printed) with `sent` (in the order sent on `channel`),
/// sequence ids aside.
ReceptionScore scoreReception(const std::vector<Bits>& sent, char channel,
                              const std::vector<std::string>& received);

}  // namespace keelwave::transmitter
