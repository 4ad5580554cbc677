// Runs gpsdecode once over the whole corpus and ties each object it prints to its message.
#include "tests/ais/fields/gpsd_oracle.hpp"

#include "tools/transmitter/expected_sentences.hpp"

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace keelwave::test {

namespace {

std::vector<uint8_t> packBits(const transmitter::Bits& bits) {
    std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        bytes[i / 8] |= static_cast<uint8_t>(bits[i] << (7 - i % 8));
    }
    return bytes;
}

}  // namespace

// The corpus's messages, each with what `gpsdecode -s -v` printed for it. gpsd 3.22 drops
// sentences of talkers it does not know ("BY", "SS"), so every sentence reaches it as "AI"
// with its checksum made anew. -s prints type 24's parts as they come (without it gpsd holds
// a part A back until its part B arrives); -v echoes each sentence before its JSON, which
// ties every object to the message that the sentence completes.
std::vector<CorpusMessage> decodeCorpusWithGpsd(std::size_t& sentencesRead) {
    std::ifstream corpus(std::string(PROJECT_DIR) + "/tests/data/real-aivdm.nmea");
    const auto input = std::filesystem::temp_directory_path() /
                       ("keelwave-gpsd-input-" + std::to_string(getpid()) + ".nmea");
    std::ofstream oracleInput(input);
    transmitter::MessageAssembler assembler;
    transmitter::NmeaReadReport report;
    std::map<std::size_t, std::size_t> messageEndingAtLine;
    std::string line;
    for (std::size_t number = 0; std::getline(corpus, line); ++number) {
        const std::size_t before = report.messages.size();
        transmitter::addSentence(assembler, transmitter::parseNmeaSentence(line), number, report);
        if (report.messages.size() > before) {
            messageEndingAtLine[number] = before;
        }
        oracleInput << transmitter::withChecksum("AI" + line.substr(3, line.find('*') - 3)) << "\n";
    }
    oracleInput.close();

    std::vector<CorpusMessage> messages;
    for (const transmitter::AisMessage& message : report.messages) {
        messages.push_back({message.bits, nullptr});
    }
    const std::string command = "gpsdecode -s -v < " + input.string() + " 2>/dev/null";
    FILE* oracle = popen(command.c_str(), "r");
    std::size_t echoed = 0;
    char buffer[8192];
    while (oracle != nullptr && std::fgets(buffer, sizeof buffer, oracle) != nullptr) {
        if (buffer[0] != '{') {
            ++echoed;
            continue;
        }
        const auto ended = messageEndingAtLine.find(echoed - 1);
        if (ended != messageEndingAtLine.end()) {
            messages[ended->second].gpsd = nlohmann::ordered_json::parse(buffer);
        }
    }
    const int status = oracle != nullptr ? pclose(oracle) : -1;
    std::filesystem::remove(input);
    sentencesRead = status == 0 ? echoed : 0;
    return messages;
}

nlohmann::ordered_json decodeBits(const transmitter::Bits& bits) {
    const auto bytes = packBits(bits);
    return ais::decodeMessageFields(bytes.data(), static_cast<int32_t>(bits.size()));
}

}  // namespace keelwave::test
