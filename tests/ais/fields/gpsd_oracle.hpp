#pragma once

// The real corpus as our field decoder and gpsd see it: its messages, and what `gpsdecode`
// (Debian's gpsd-clients, run as an outside program) printed for each.
#include "ais/fields/message_fields.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <cstddef>
#include <vector>

namespace keelwave::test {

struct CorpusMessage {
    transmitter::Bits bits;       ///< one bit an entry
    nlohmann::ordered_json gpsd;  ///< null when gpsdecode printed nothing for it
};

/// Every message of tests/data/real-aivdm.nmea, with gpsdecode's object for it;
/// `sentencesRead` counts the sentences gpsdecode echoed (all of them when it ran).
std::vector<CorpusMessage> decodeCorpusWithGpsd(std::size_t& sentencesRead);

/// Our object for a message of one bit an entry.
nlohmann::ordered_json decodeBits(const transmitter::Bits& bits);

}  // namespace keelwave::test
