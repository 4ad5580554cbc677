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

void require(bool holds, const std::string& what) {
    if (!holds) {
        invariantBroken(what);
    }
}

bool gainInBounds(float gain) {
    return std::isfinite(gain) && static_cast<double>(gain) >= gainMin &&
           static_cast<double>(gain) <= gainMax;
}

}  // namespace

void checkFrameDecoderState(const FrameDecoder& decoder) {
    require(decoder.state >= StateTraining && decoder.state <= StateEndFlag,
            "deframer state " + std::to_string(decoder.state));
    require(decoder.bitCount >= 0 && decoder.bitCount <= maxStoredBits,
            "stored bit count " + std::to_string(decoder.bitCount));
    require(decoder.flagCount <= maxFlagCount, "flag count " + std::to_string(decoder.flagCount));
    require(decoder.onesRun <= maxOnesRun, "ones run " + std::to_string(decoder.onesRun));
    require(decoder.stuffPending <= 1, "stuffPending " + std::to_string(decoder.stuffPending));
    require(decoder.stuffPending == 0 || decoder.state == StateData, "stuffPending outside data");
    require(decoder.prevBit <= 1, "previous bit " + std::to_string(decoder.prevBit));
    require(decoder.sequenceId <= lastSequenceId,
            "sequence id " + std::to_string(decoder.sequenceId));
}

void checkReceiverState(const AisReceiver& receiver) {
    require(gainInBounds(receiver.gain), "gain " + std::to_string(receiver.gain));
    require(receiver.pllPhase < pllFullTurn,
            "bit clock phase " + std::to_string(receiver.pllPhase));
    require(receiver.filter->writeIndex >= static_cast<uint32_t>(firTapCount) &&
                receiver.filter->writeIndex < static_cast<uint32_t>(firHistorySize),
            "filter write index " + std::to_string(receiver.filter->writeIndex));
    require(receiver.prevLevel <= 1 && receiver.lastBitLevel <= 1, "slicer level not 0 or 1");
    checkFrameDecoderState(*receiver.frameDecoder);
}

void checkLevelReport(void* context, int channel, float level, float gain) {
    require(channel == *static_cast<const char*>(context), "level report for another channel");
    require(std::isfinite(level) && level >= 0.0f && level < maxLevel,
            "level " + std::to_string(level));
    require(gainInBounds(gain), "reported gain " + std::to_string(gain));
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
    require(count > 0 && count <= static_cast<int32_t>(discriminatorBlockLength),
            "block of " + std::to_string(count) + " samples");
    require(!shortBlockSeen, "a block after a short one");
    shortBlockSeen = count < static_cast<int32_t>(discriminatorBlockLength);
    for (int32_t i = 0; i < count; ++i) {
        require(block[i] >= -maxDiscriminator && block[i] <= maxDiscriminator,
                "discriminator sample " + std::to_string(block[i]));
    }
    samples.insert(samples.end(), block, block + count);
    processSamples(receiver, block, count);
    checkReceiverState(*receiver);
}
