#include "ais/sensitive/frame_search.hpp"

#include <cstring>

namespace keelwave::ais {

namespace {

constexpr int32_t onesBeforeStuffing = 5;  // A 0 follows every fifth 1 in a row.
constexpr int32_t endFlagStoredBits = 6;   // The end flag's leading 0 and five 1s.
/// Destuffed bits at which a frame is too long: the classic frame store's limit.
constexpr int32_t tooLongBits = 449;
constexpr int32_t bitsPerByte = 8;

struct Reading {
    FrameReading outcome = FrameReading::needsSymbols;
    int32_t frameBits = 0;  // data and FCS bits, once the end flag is found
    int32_t endSymbol = 0;  // where the reading stopped
};

// Destuffs from symbol `from` with the state the first reading had there, into `bits`. When
// `first`, records that state before every symbol, up to the one it stops at.
Reading destuff(FrameSearch& search, const SoftSymbols& symbols, int32_t from, uint8_t* bits,
                bool first) {
    int32_t stored = search.storedBefore[from];
    int32_t ones = search.onesBefore[from];
    bool stuff = search.stuffBefore[from] != 0;
    int32_t k = from;
    for (; k < symbols.count; ++k) {
        if (first) {
            search.storedBefore[k] = static_cast<int16_t>(stored);
            search.onesBefore[k] = static_cast<uint8_t>(ones);
            search.stuffBefore[k] = stuff ? 1 : 0;
        }
        const uint8_t bit = symbols.decisions[k] == symbols.decisions[k - 2] ? 1 : 0;
        if (stuff) {
            stuff = false;
            if (bit == 0) {
                continue;  // A stuffed 0.
            }
            return {FrameReading::passed, stored - endFlagStoredBits, k};
        }
        bits[stored++] = bit;
        ones = bit != 0 ? ones + 1 : 0;
        if (ones == onesBeforeStuffing) {
            stuff = true;
            ones = 0;
        }
        if (stored >= tooLongBits) {
            return {FrameReading::failed, 0, k};
        }
    }
    if (first) {
        search.storedBefore[k] = static_cast<int16_t>(stored);
        search.onesBefore[k] = static_cast<uint8_t>(ones);
        search.stuffBefore[k] = stuff ? 1 : 0;
    }
    return {FrameReading::needsSymbols, 0, k};
}

// Checks the frame a reading ended in.
bool check(FrameSearch& search, const uint8_t* bits, const Reading& reading) {
    const int32_t dataBits = reading.frameBits - frameCheckBits;
    if (dataBits <= 0 || dataBits % bitsPerByte != 0) {
        return false;
    }
    ++search.checks;
    const int32_t messageBits =
        checkFrame(bits, reading.frameBits, search.bytes, search.payloadBits);
    if (messageBits == 0) {
        return false;
    }
    search.messageBits = messageBits;
    search.endSymbol = reading.endSymbol;
    return true;
}

// Turns symbol k over: the decision alone, or with levels decided, every one from k on.
void turnOver(SoftSymbols& symbols, int32_t k) {
    const int32_t end = symbols.byLevels ? symbols.count : k + 1;
    for (int32_t j = k; j < end; ++j) {
        symbols.decisions[j] = static_cast<int8_t>(-symbols.decisions[j]);
    }
}

// Reads the frame with the symbols at `first` (and `second`, when not -1) turned over.
FrameReading tryFlips(FrameSearch& search, SoftSymbols& symbols, int32_t first, int32_t second) {
    const int32_t from = second < 0 || first < second ? first : second;
    turnOver(symbols, first);
    if (second >= 0) {
        turnOver(symbols, second);
    }
    std::memcpy(search.trialBits, search.plainBits, static_cast<size_t>(search.storedBefore[from]));
    const Reading reading = destuff(search, symbols, from, search.trialBits, false);
    FrameReading outcome = reading.outcome;
    if (outcome == FrameReading::passed && !check(search, search.trialBits, reading)) {
        outcome = FrameReading::failed;
    }
    turnOver(symbols, first);
    if (second >= 0) {
        turnOver(symbols, second);
    }
    return outcome;
}

}  // namespace

void startFrame(FrameSearch& search) {
    search.storedBefore[preambleSymbols] = 0;
    search.onesBefore[preambleSymbols] = 0;
    search.stuffBefore[preambleSymbols] = 0;
    search.readUntil = preambleSymbols;
    search.messageBits = 0;
    search.endSymbol = preambleSymbols;
}

FrameReading readFrame(FrameSearch& search, const SoftSymbols& symbols) {
    const Reading reading = destuff(search, symbols, search.readUntil, search.plainBits, true);
    search.readUntil = reading.endSymbol;
    search.endSymbol = reading.endSymbol;
    if (reading.outcome != FrameReading::passed) {
        return reading.outcome;
    }
    return check(search, search.plainBits, reading) ? FrameReading::passed : FrameReading::failed;
}

void startFlips(FrameSearch& search, const SoftSymbols& symbols, float reliabilityLimit) {
    // The least sure symbols the first reading went through, least sure first.
    int32_t candidates[singleFlips];
    int32_t found = 0;
    const int32_t last = search.readUntil;
    for (int32_t k = preambleSymbols; k <= last && k < symbols.count; ++k) {
        const float reliability = symbols.reliabilities[k];
        if (reliability >= reliabilityLimit ||
            (found == singleFlips &&
             reliability >= symbols.reliabilities[candidates[singleFlips - 1]])) {
            continue;
        }
        int32_t at = found < singleFlips ? found++ : singleFlips - 1;
        while (at > 0 && symbols.reliabilities[candidates[at - 1]] > reliability) {
            candidates[at] = candidates[at - 1];
            --at;
        }
        candidates[at] = k;
    }
    search.trials = 0;
    for (int32_t i = 0; i < found; ++i) {
        search.flips[search.trials][0] = candidates[i];
        search.flips[search.trials][1] = -1;
        ++search.trials;
    }
    const int32_t paired = found < pairedFlips ? found : pairedFlips;
    for (int32_t i = 0; i < paired; ++i) {
        for (int32_t j = i + 1; j < paired; ++j) {
            search.flips[search.trials][0] = candidates[i];
            search.flips[search.trials][1] = candidates[j];
            ++search.trials;
        }
    }
    search.nextTrial = 0;
}

FrameReading searchFlips(FrameSearch& search, SoftSymbols& symbols) {
    for (; search.nextTrial < search.trials; ++search.nextTrial) {
        const int32_t* flips = search.flips[search.nextTrial];
        const FrameReading outcome = tryFlips(search, symbols, flips[0], flips[1]);
        if (outcome == FrameReading::needsSymbols && symbols.count < burstSymbolCapacity) {
            return FrameReading::needsSymbols;
        }
        if (outcome == FrameReading::passed) {
            return FrameReading::passed;
        }
    }
    return FrameReading::failed;
}

}  // namespace keelwave::ais
