#include "tests/soak/soak_checks.hpp"

#include "tests/e2e/receiver_run.hpp"

#include <algorithm>
#include <cstdint>

namespace {

using Kind = ReceiverLog::Entry::Kind;
constexpr char channels[] = {'A', 'B'};

std::vector<std::string> ofChannel(const std::vector<Sentence>& sentences, char channel) {
    std::vector<std::string> kept;
    for (const Sentence& sentence : sentences) {
        if (sentence.channel == channel) {
            kept.push_back(sentence.text);
        }
    }
    return kept;
}

std::vector<std::string> ofChannel(const std::vector<std::string>& texts, char channel) {
    std::vector<std::string> kept;
    for (const std::string& text : texts) {
        if (sentenceChannel(text) == channel) {
            kept.push_back(text);
        }
    }
    return kept;
}

/// A line's place in the log: its channel and its index among that channel's lines.
std::uint64_t place(char channel, std::size_t index) {
    return static_cast<std::uint64_t>(index) * 2 + (channel == 'B' ? 1 : 0);
}

/// The places of `stream`'s lines, in its order, that `other` was connected for as well.
std::vector<std::uint64_t> placesShared(const ClientStream& stream, const ClientStream& other) {
    std::map<char, std::size_t> next = stream.first;
    std::vector<std::uint64_t> places;
    for (const std::string& line : stream.lines) {
        if (!isWellFormedSentence(line)) {
            continue;
        }
        const char channel = sentenceChannel(line);
        const std::size_t index = next[channel]++;
        const auto from = other.first.find(channel);
        if (from != other.first.end() && index >= from->second &&
            index < from->second + other.count.at(channel)) {
            places.push_back(place(channel, index));
        }
    }
    return places;
}

}  // namespace

std::map<char, std::size_t> sentencesPerChannel(const ReceiverLog& log) {
    std::map<char, std::size_t> counts;
    for (const Sentence& sentence : log.sentences()) {
        ++counts[sentence.channel];
    }
    return counts;
}

std::size_t linesOwed(const ReceiverLog& log, const std::string& address) {
    const std::map<char, std::size_t> logged = sentencesPerChannel(log);
    std::size_t owed = 0;
    for (char channel : channels) {
        const std::size_t before = log.sentencesBeforeConnect(address, channel);
        const auto total = logged.find(channel);
        if (before != std::string::npos && total != logged.end()) {
            owed += total->second - before;
        }
    }
    return owed;
}

bool allForgotten(const ReceiverLog& log, const std::vector<std::string>& addresses) {
    std::map<std::string, std::pair<std::size_t, std::size_t>> logged;  // connects, disconnects
    for (const ReceiverLog::Entry& entry : log.entries) {
        if (entry.kind == Kind::Connected) {
            ++logged[entry.text].first;
        } else if (entry.kind == Kind::Disconnected) {
            ++logged[entry.text].second;
        }
    }
    std::map<std::string, std::size_t> made;
    for (const std::string& address : addresses) {
        ++made[address];
    }
    std::size_t unnamed = 0;
    for (const auto& [address, connections] : made) {
        const auto [connected, disconnected] = logged[address];
        if (connected != disconnected || connected > connections) {
            return false;
        }
        unnamed += connections - connected;
    }
    return logged[""].first == unnamed && logged[""].second == unnamed;
}

LogVersusRecording compareWithRecording(const ReceiverLog& log,
                                        const std::vector<std::string>& expected) {
    LogVersusRecording comparison;
    const std::vector<Sentence> sentences = log.sentences();
    for (const Sentence& sentence : sentences) {
        if (!isWellFormedSentence(sentence.text)) {
            comparison.firstDifference = "malformed sentence in the log: " + sentence.text;
            return comparison;
        }
    }
    comparison.passes = -1;
    for (char channel : channels) {
        const std::vector<std::string> recorded = withoutSequenceIds(ofChannel(expected, channel));
        const std::vector<std::string> logged = withoutSequenceIds(ofChannel(sentences, channel));
        for (std::size_t n = 0; n < logged.size() && comparison.firstDifference.empty(); ++n) {
            const std::string& wanted = recorded[n % recorded.size()];
            if (logged[n] != wanted) {
                comparison.firstDifference = std::string("channel ") + channel + ", pass " +
                                             std::to_string(n / recorded.size() + 1) + ": logged " +
                                             logged[n] + ", recorded " + wanted;
            }
        }
        const double passes =
            static_cast<double>(logged.size()) / static_cast<double>(recorded.size());
        comparison.passes = comparison.passes < 0 ? passes : std::min(comparison.passes, passes);
    }
    return comparison;
}

ClientStream analyseClient(const ReceiverLog& log, const std::string& address,
                           const std::string& received,
                           const std::map<char, std::size_t>& loggedBefore) {
    ClientStream stream;
    stream.address = address;
    stream.lines = splitNetworkLines(received, &stream.tail);
    std::vector<std::string> whole;
    for (const std::string& line : stream.lines) {
        if (isWellFormedSentence(line)) {
            whole.push_back(line);
        } else {
            ++stream.malformed;
        }
    }
    const std::vector<Sentence> sentences = log.sentences();
    bool tailPlaced = stream.tail.empty();
    for (char channel : channels) {
        const std::vector<std::string> logged = ofChannel(sentences, channel);
        const std::vector<std::string> mine = ofChannel(whole, channel);
        const std::size_t connectedAt = log.sentencesBeforeConnect(address, channel);
        bool placed = false;
        // The line in flight on this channel when the client was taken in may have missed it.
        for (std::size_t start = connectedAt; start <= connectedAt + 1 && !placed; ++start) {
            placed = connectedAt != std::string::npos && start + mine.size() <= logged.size() &&
                     std::equal(mine.begin(), mine.end(), logged.begin() + start);
            if (placed) {
                stream.first[channel] = start;
                stream.count[channel] = mine.size();
            }
        }
        if (!placed) {
            stream.inLogOrder = false;
            continue;
        }
        const std::size_t end = stream.first[channel] + mine.size();
        const auto owed = loggedBefore.find(channel);
        if (owed != loggedBefore.end() && end < owed->second) {
            stream.complete = false;
        }
        tailPlaced = tailPlaced || (end < logged.size() && logged[end].rfind(stream.tail, 0) == 0);
    }
    stream.inLogOrder = stream.inLogOrder && tailPlaced;
    return stream;
}

bool sameOverCommonInterval(const ClientStream& one, const ClientStream& other) {
    return placesShared(one, other) == placesShared(other, one);
}

UdpRetries udpRetries(const ReceiverLog& log, const std::string& host) {
    UdpRetries retries;
    const std::string failure = "Can't resolve host " + host + " ";
    for (const std::string& error : log.errors) {
        if (error.rfind(failure, 0) == 0) {
            ++retries.failedLookups;
        } else {
            retries.otherErrors.push_back(error);
        }
    }
    retries.scheduledRetries = log.count(Kind::Other, "Try resolve in 15 seconds");
    return retries;
}
