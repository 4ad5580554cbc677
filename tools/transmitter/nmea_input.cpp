#include "tools/transmitter/nmea_input.hpp"

#include <algorithm>
#include <cstdio>
#include <istream>

namespace keelwave::transmitter {

namespace {

// "!AIVDM,count,number,sequence,channel,payload,fill*HH": seven comma-separated fields.
constexpr std::size_t fieldCount = 7;
constexpr std::size_t addressLength = 5;  // two talker letters and a three-letter formatter
constexpr std::size_t checksumDigits = 2;
constexpr int maxFragments = 9;  // the count is one digit
// More unfinished groups than this means the input is not a receiver log; the oldest goes.
constexpr std::size_t maxPendingGroups = 32;

std::string hexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::vector<std::string> splitFields(const std::string& body) {
    std::vector<std::string> fields(1);
    for (const char character : body) {
        if (character == ',') {
            fields.emplace_back();
        } else {
            fields.back() += character;
        }
    }
    return fields;
}

int parseDigitField(const std::string& text, const char* what, int low, int high) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '9' || text[0] - '0' < low ||
        text[0] - '0' > high) {
        throw NmeaError(std::string("bad ") + what + " field \"" + text + "\"");
    }
    return text[0] - '0';
}

char parseChannel(const std::string& text) {
    if (text.empty()) {
        return 0;
    }
    if (text == "A" || text == "1") {
        return 'A';
    }
    if (text == "B" || text == "2") {
        return 'B';
    }
    throw NmeaError("bad channel field \"" + text + "\"");
}

std::string groupKey(const NmeaSentence& sentence) {
    return sentence.talker + sentence.formatter + "," + std::to_string(sentence.fragmentCount) +
           "," + sentence.sequenceId + "," + (sentence.channel == 0 ? '-' : sentence.channel);
}

std::string describeGroup(const MessageAssembler::PendingGroup& group) {
    std::string missing;
    for (std::size_t index = 0; index < group.received.size(); ++index) {
        if (!group.received[index]) {
            missing += (missing.empty() ? "" : ",") + std::to_string(index + 1);
        }
    }
    return "line " + std::to_string(group.firstLine) + ": incomplete " +
           std::to_string(group.received.size()) + "-sentence group (sequence id \"" +
           group.sequenceId + "\") dropped, fragment(s) " + missing + " missing";
}

void completeGroup(const MessageAssembler::PendingGroup& group, NmeaReadReport& report) {
    AisMessage message;
    message.firstLine = group.firstLine;
    message.channel = group.fragments.front().channel;
    for (const NmeaSentence& fragment : group.fragments) {
        const Bits bits = dearmourPayload(fragment.payload, fragment.fillBits);
        message.bits.insert(message.bits.end(), bits.begin(), bits.end());
    }
    report.messages.push_back(std::move(message));
}

}  // namespace

std::uint8_t nmeaChecksum(const std::string& body) {
    std::uint8_t sum = 0;
    for (const char character : body) {
        sum ^= static_cast<std::uint8_t>(character);
    }
    return sum;
}

NmeaSentence parseNmeaSentence(const std::string& line) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t')) {
        text.pop_back();
    }
    if (text.empty() || text[0] != '!') {
        throw NmeaError("not an AIS sentence (no leading '!')");
    }
    const std::size_t star = text.rfind('*');
    if (star == std::string::npos || text.size() - star - 1 != checksumDigits) {
        throw NmeaError("no two-digit checksum after '*'");
    }
    const std::string body = text.substr(1, star - 1);
    const std::string given = text.substr(star + 1);
    std::string givenUpper = given;
    std::transform(givenUpper.begin(), givenUpper.end(), givenUpper.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    const std::string computed = hexByte(nmeaChecksum(body));
    if (givenUpper != computed) {
        throw NmeaError("bad checksum: sentence says " + given + ", contents give " + computed);
    }

    const std::vector<std::string> fields = splitFields(body);
    if (fields.size() != fieldCount) {
        throw NmeaError("expected 7 fields, found " + std::to_string(fields.size()));
    }
    const std::string& address = fields[0];
    if (address.size() != addressLength ||
        (address.compare(2, 3, "VDM") != 0 && address.compare(2, 3, "VDO") != 0)) {
        throw NmeaError("not a VDM/VDO sentence: \"" + address + "\"");
    }
    NmeaSentence sentence;
    sentence.talker = address.substr(0, 2);
    sentence.formatter = address.substr(2);
    sentence.fragmentCount = parseDigitField(fields[1], "fragment count", 1, maxFragments);
    sentence.fragmentNumber =
        parseDigitField(fields[2], "fragment number", 1, sentence.fragmentCount);
    sentence.sequenceId = fields[3];
    if (sentence.sequenceId.find_first_not_of("0123456789") != std::string::npos) {
        throw NmeaError("bad sequence id field \"" + sentence.sequenceId + "\"");
    }
    sentence.channel = parseChannel(fields[4]);
    sentence.payload = fields[5];
    sentence.fillBits = parseDigitField(fields[6], "fill bits", 0, 5);
    dearmourPayload(sentence.payload, sentence.fillBits);  // rejects bad characters now
    return sentence;
}

void addSentence(MessageAssembler& assembler, const NmeaSentence& sentence, std::size_t line,
                 NmeaReadReport& report) {
    ++report.sentences;
    if (sentence.fragmentCount == 1) {
        completeGroup({groupKey(sentence), sentence.sequenceId, {sentence}, {true}, line}, report);
        return;
    }
    auto& pending = assembler.pending;
    const std::string key = groupKey(sentence);
    const auto index = static_cast<std::size_t>(sentence.fragmentNumber - 1);
    auto group = std::find_if(pending.begin(), pending.end(),
                              [&](const auto& candidate) { return candidate.key == key; });
    if (group != pending.end() && group->received[index]) {
        // The same fragment again: the held group never completed and a new one begins.
        report.problems.push_back(describeGroup(*group));
        pending.erase(group);
        group = pending.end();
    }
    if (group == pending.end()) {
        if (pending.size() >= maxPendingGroups) {
            report.problems.push_back(describeGroup(pending.front()));
            pending.erase(pending.begin());
        }
        const auto count = static_cast<std::size_t>(sentence.fragmentCount);
        pending.push_back({key, sentence.sequenceId, std::vector<NmeaSentence>(count),
                           std::vector<bool>(count), line});
        group = std::prev(pending.end());
    }
    group->fragments[index] = sentence;
    group->received[index] = true;
    group->firstLine = std::min(group->firstLine, line);
    if (std::all_of(group->received.begin(), group->received.end(), [](bool got) { return got; })) {
        completeGroup(*group, report);
        pending.erase(group);
    }
}

void finishAssembly(MessageAssembler& assembler, NmeaReadReport& report) {
    for (const auto& group : assembler.pending) {
        report.problems.push_back(describeGroup(group));
    }
    assembler.pending.clear();
}

NmeaReadReport readNmeaMessages(std::istream& in) {
    NmeaReadReport report;
    MessageAssembler assembler;
    std::size_t lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#') {
            continue;
        }
        try {
            addSentence(assembler, parseNmeaSentence(line), lineNumber, report);
        } catch (const NmeaError& error) {
            report.problems.push_back("line " + std::to_string(lineNumber) + ": " + error.what());
        }
    }
    finishAssembly(assembler, report);
    return report;
}

}  // namespace keelwave::transmitter
