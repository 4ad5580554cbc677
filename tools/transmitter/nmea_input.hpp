#pragma once

#include "tools/transmitter/six_bit.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace keelwave::transmitter {

/// One checked "!xxVDM" / "!xxVDO" sentence, split into its fields.
struct NmeaSentence {
    std::string talker;     ///< two letters: "AI", "BS", "AB", ...
    std::string formatter;  ///< "VDM" (received by the station) or "VDO" (its own ship)
    int fragmentCount = 0;
    int fragmentNumber = 0;  ///< 1-based
    std::string sequenceId;  ///< empty, or the digits that tie the fragments of a group together
    char channel = 0;        ///< 'A' or 'B' ("1" and "2" read as 'A' and 'B'); 0 when left empty
    std::string payload;
    int fillBits = 0;
};

/// XOR of every character of `body` (the text between '!' and '*').
std::uint8_t nmeaChecksum(const std::string& body);

/// Parses and checks one sentence (trailing CR, LF and blanks allowed). Throws NmeaError with a
/// readable reason on a bad frame, checksum, field or payload character.
NmeaSentence parseNmeaSentence(const std::string& line);

/// One whole AIS message, reassembled from its sentences.
struct AisMessage {
    Bits bits;
    char channel = 0;           ///< as the first sentence gives it: 'A', 'B' or 0
    std::size_t firstLine = 0;  ///< 1-based input line of its first sentence
};

/// What reading NMEA text gave: the messages in the order they completed, and every sentence
/// or group that had to be dropped, one readable line each.
struct NmeaReadReport {
    std::size_t sentences = 0;  ///< sentences that parsed and passed the checksum
    std::vector<AisMessage> messages;
    std::vector<std::string> problems;
};

/// Fragments of multi-sentence groups still waiting for their siblings.
struct MessageAssembler {
    struct PendingGroup {
        std::string key;  ///< talker, formatter, fragment count, sequence id and channel
        std::string sequenceId;
        std::vector<NmeaSentence> fragments;  ///< indexed by fragment number - 1
        std::vector<bool> received;           ///< which entries of `fragments` have arrived
        std::size_t firstLine = 0;
    };
    std::vector<PendingGroup> pending;  ///< oldest first
};

/// Adds one parsed sentence; a single sentence, or the last missing fragment of a group, turns
/// into a message in `report`. A fragment that repeats one already held drops the held group.
void addSentence(MessageAssembler& assembler, const NmeaSentence& sentence, std::size_t line,
                 NmeaReadReport& report);

/// Drops (and reports) every group still incomplete at the end of the input.
void finishAssembly(MessageAssembler& assembler, NmeaReadReport& report);

/// Reads sentences one per line, skipping blank lines and lines starting with '#'.
NmeaReadReport readNmeaMessages(std::istream& in);

}  // namespace keelwave::transmitter
