#include "fuzz/checked_receiver.hpp"

#include "fuzz/invariant.hpp"
#include "sdr/channel_demodulator.hpp"

#include <cmath>
#include <string>

namespace {

constexpr int32_t maxStoredBits = 448;  // A frame is dropped when it reaches 449.
constexpr uint32_t maxFlagCount = 7;    // The start flag's leading 0 and six 1s.
constexpr uint32_t maxOnesRun = 3;      // Five 1s in a row set stuffPending and restart it.
constexpr uint8_t lastSequenceId = 9;
constexpr uint32_t pllFullTurn = 65536;      // One bit of the bit clock's phase.
constexpr double gainMin = 0.01;             // The AGC restarts at 1.0 outside these bounds,
constexpr double gainMax = 100.0;            // compared in double.
constexpr float maxLevel = 100.0f;           // Percent of full scale (32768).
constexpr int16_t maxDiscriminator = 16384;  // A phase step of pi.

// The message is built only on failure: the deframer is checked after every bit.
void require(bool holds, const char* what) {
    if (!holds) {
        invariantBroken(what);
    }
}

void require(bool holds, const char* what, double value) {
    if (!holds) {
        invariantBroken(std::string(what) + " " + std::to_string(value));
    }
}

bool gainInBounds(float gain) {
    return std::isfinite(gain) && static_cast<double>(gain) >= gainMin &&
           static_cast<double>(gain) <= gainMax;
}

}  // namespace

void checkFrameDecoderState(const FrameDecoder& decoder) {
    require(decoder.state >= StateTraining && decoder.state <= StateEndFlag, "deframer state",
            decoder.state);
    require(decoder.bitCount >= 0 && decoder.bitCount <= maxStoredBits, "stored bit count",
            decoder.bitCount);
    require(decoder.flagCount <= maxFlagCount, "flag count", decoder.flagCount);
    require(decoder.onesRun <= maxOnesRun, "ones run", decoder.onesRun);
    require(decoder.stuffPending <= 1, "stuffPending", decoder.stuffPending);
    require(decoder.stuffPending == 0 || decoder.state == StateData, "stuffPending outside data");
    require(decoder.prevBit <= 1, "previous bit", decoder.prevBit);
    require(decoder.sequenceId <= lastSequenceId, "sequence id", decoder.sequenceId);
}

void checkReceiverState(const AisReceiver& receiver) {
    require(gainInBounds(receiver.gain), "gain", static_cast<double>(receiver.gain));
    require(receiver.pllPhase < pllFullTurn, "bit clock phase", receiver.pllPhase);
    require(receiver.filter->writeIndex >= static_cast<uint32_t>(firTapCount) &&
                receiver.filter->writeIndex < static_cast<uint32_t>(firHistorySize),
            "filter write index", receiver.filter->writeIndex);
    require(receiver.prevLevel <= 1 && receiver.lastBitLevel <= 1, "slicer level not 0 or 1");
    checkFrameDecoderState(*receiver.frameDecoder);
}

void checkLevelReport(void* context, int channel, float level, float gain) {
    require(channel == *static_cast<const char*>(context), "level report for another channel");
    require(std::isfinite(level) && level >= 0.0f && level < maxLevel, "level",
            static_cast<double>(level));
    require(gainInBounds(gain), "reported gain", static_cast<double>(gain));
}

CheckedReceiver::CheckedReceiver(char channelLetter)
    : channel(channelLetter),
      checker(channelLetter),
      receiver(createAisReceiver(channelLetter, true, &SentenceChecker::check, &checker,
                                 &checkLevelReport, &channel)) {}

CheckedReceiver::~CheckedReceiver() {
    destroyAisReceiver(receiver);
}

void CheckedReceiver::process(const int16_t* block, int32_t count) {
    require(count > 0 && count <= static_cast<int32_t>(discriminatorBlockLength), "block length",
            count);
    require(!shortBlockSeen, "a block after a short one");
    shortBlockSeen = count < static_cast<int32_t>(discriminatorBlockLength);
    for (int32_t i = 0; i < count; ++i) {
        require(block[i] >= -maxDiscriminator && block[i] <= maxDiscriminator,
                "discriminator sample", block[i]);
    }
    samples.insert(samples.end(), block, block + count);
    processSamples(receiver, block, count);
    checkReceiverState(*receiver);
}
