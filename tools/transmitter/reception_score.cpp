#include "tools/transmitter/reception_score.hpp"

#include "tools/transmitter/expected_sentences.hpp"

#include <algorithm>

namespace keelwave::transmitter {

namespace {

constexpr int sequenceIdField = 3;  // !AIVDM,count,number,sequence id,channel,payload,fill

}  // namespace

std::string withoutSequenceId(const std::string& sentence) {
    std::string kept;
    int field = 0;
    for (const char character : sentence) {
        if (character == '*') {
            break;
        }
        if (character == ',') {
            ++field;
        }
        if (field != sequenceIdField || character == ',') {
            kept += character;
        }
    }
    return kept;
}

ReceptionScore scoreReception(const std::vector<Bits>& sent, char channel,
                              const std::vector<std::string>& received) {
    ReceptionScore score;
    SequenceCounters counters;
    std::vector<std::vector<std::string>> expected;
    for (const Bits& message : sent) {
        std::vector<std::string> sentences;
        if (receiverVerdict(message) == MessageVerdict::printed) {
            ++score.printable;
            for (const std::string& sentence : expectedSentences(message, channel, counters)) {
                sentences.push_back(withoutSequenceId(sentence));
            }
        }
        expected.push_back(sentences);
    }
    std::vector<std::string> printed;
    for (const std::string& sentence : received) {
        printed.push_back(withoutSequenceId(sentence));
    }

    // Messages come back in the order sent, so each printed sentence is looked for among the
    // messages after the last one matched.
    std::size_t nextMessage = 0;
    for (std::size_t next = 0; next < printed.size();) {
        const auto matches = [&](const std::vector<std::string>& sentences) {
            return !sentences.empty() && next + sentences.size() <= printed.size() &&
                   std::equal(sentences.begin(), sentences.end(),
                              printed.begin() + static_cast<std::ptrdiff_t>(next));
        };
        const auto found = std::find_if(expected.begin() + static_cast<std::ptrdiff_t>(nextMessage),
                                        expected.end(), matches);
        if (found == expected.end()) {
            score.strays.push_back(received[next]);
            ++next;
            continue;
        }
        ++score.printed;
        next += found->size();
        nextMessage = static_cast<std::size_t>(found - expected.begin()) + 1;
    }
    return score;
}

}  // namespace keelwave::transmitter
