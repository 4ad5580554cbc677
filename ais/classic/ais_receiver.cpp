#include "ais/classic/ais_receiver.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace keelwave::ais {

namespace {

// Bit clock: 65536 phase units per bit.
constexpr uint32_t pllFullTurn = 65536;            // One bit.
constexpr uint32_t pllHalfTurn = pllFullTurn / 2;  // Where level changes should fall.
constexpr uint32_t pllNudgeShift = 4;  // Nudge = increment / 16 = 819 units, 1.25 % of a bit.
// Largest value a scaled sample keeps; beyond it the sample is clipped, not wrapped.
constexpr float scaledMax = 32767.0f;
constexpr float scaledMin = -32768.0f;

// Software AGC, from the block's positive peak in percent of full scale (32768).
constexpr float levelPercentPerUnit = 100.0f / 32768.0f;  // 0.0030517578125.
constexpr float levelHigh = 75.0f;                        // Percent; above it the gain falls.
constexpr float levelLow = 50.0f;                         // Percent; below it the gain rises.
constexpr double gainFall = 0.99;
constexpr double gainRise = 1.01;
constexpr double gainMax = 100.0;  // A gain outside these bounds has run away: restart.
constexpr double gainMin = 0.01;

}  // namespace

void processSamples(AisReceiver* receiver, const int16_t* samples, int32_t count) {
    if (count > maxBlockSamples) {
        std::abort();  // The work array cannot hold the outputs; no caller ever does this.
    }
    float outputs[maxBlockSamples];
    int16_t peak = 0;
    if (count > 0) {
        peak = scaleAndFilter(receiver, samples, count, outputs);
        recoverBits(receiver, outputs, count);
    }
    adjustGainAndReport(receiver, peak, std::time(nullptr));
}

int16_t scaleAndFilter(AisReceiver* receiver, const int16_t* samples, int32_t count,
                       float* outputs) {
    FirFilter* filter = &receiver->filter;
    const uint32_t tapCount = firTapCount;
    int16_t peak = 0;
    for (int32_t i = 0; i < count; ++i) {
        const float scaled =
            static_cast<float>(samples[receiver->sampleOffset + i * receiver->sampleStride]) *
            receiver->gain;
        // Clip, then truncate toward zero. An overdriven sample keeps its sign: wrapped modulo
        // 65536 it could change sign and turn the slicer's level, and a positive one would
        // drop out of the peak, so the gain would go on rising. A clipped one counts as full
        // scale towards the peak, and the gain comes down.
        const auto value = static_cast<int16_t>(std::min(std::max(scaled, scaledMin), scaledMax));
        if (value > peak) {
            peak = value;
        }
        filter->history[filter->writeIndex] = value;

        // The output covers the tapCount samples before the one just stored: one sample of
        // pure delay on top of the filter's symmetric response.
        const float* window = &filter->history[filter->writeIndex - tapCount];
        float output = 0.0f;
        for (uint32_t k = 0; k < tapCount; ++k) {
            output += gaussianTaps[k] * window[k];
        }
        outputs[i] = output;

        filter->writeIndex += 1;
        if (filter->writeIndex == firHistorySize) {
            std::memcpy(filter->history, &filter->history[firHistorySize - tapCount],
                        tapCount * sizeof(float));
            filter->writeIndex = tapCount;
        }
    }
    return peak;
}

void recoverBits(AisReceiver* receiver, const float* outputs, int32_t count) {
    const uint32_t nudge = receiver->pllIncrement >> pllNudgeShift;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t level = outputs[i] > 0.0f ? 1 : 0;
        if (level != receiver->prevLevel) {
            // Pull level changes towards mid-bit, half a turn from the sampling instant.
            if (receiver->frameDecoder.state == StateTraining) {
                // Between bursts the clock runs free, so a burst may begin with its level
                // changes anywhere against the sampling instants, even on them. Fixed nudges
                // would need 40 changes to cross half a bit, and the training brings 12. Worse,
                // on an instant a change seen one sample early or late (noise, a carrier
                // offset) lands on the other side of the wrap, the nudges cancel and the bits
                // are read on their edges. Moving half the way at once locks within a few
                // changes from any start. The jump moves the next instant by at most 1.25
                // samples and never across a wrap, so no bit is skipped or repeated.
                receiver->pllPhase = (receiver->pllPhase + pllHalfTurn) / 2;
            } else if (receiver->pllPhase >= pllHalfTurn) {
                receiver->pllPhase -= nudge;
            } else {
                receiver->pllPhase += nudge;
            }
        }
        receiver->pllPhase += receiver->pllIncrement;
        receiver->prevLevel = level;
        if (receiver->pllPhase >= pllFullTurn) {
            // NRZI: no level change since the last bit is a 1, a change is a 0.
            const uint8_t bit = level == receiver->lastBitLevel ? 1 : 0;
            receiver->frameDecoder.bitSample = receiver->samplesDecoded + i;
            decodeBit(&receiver->frameDecoder, bit);
            receiver->lastBitLevel = level;
            receiver->pllPhase -= pllFullTurn;
        }
    }
    receiver->samplesDecoded += count;
}

void adjustGainAndReport(AisReceiver* receiver, int16_t peak, time_t now) {
    const float level = static_cast<float>(peak) * levelPercentPerUnit;
    // Full time_t width: a 32-bit difference would overflow against the initial time 0 from
    // 2038 on and silence the reports for good.
    const time_t elapsed = now - receiver->lastReportTime;

    float gain = receiver->gain;
    if (level > levelHigh) {
        gain = static_cast<float>(static_cast<double>(gain) * gainFall);
    } else if (level < levelLow) {
        gain = static_cast<float>(static_cast<double>(gain) * gainRise);
    }
    if (static_cast<double>(gain) > gainMax || static_cast<double>(gain) < gainMin) {
        gain = gainStart;
    }

    if (elapsed > 0) {
        receiver->lastReportTime = now;
        if (receiver->levelReports != 0 && receiver->levelCallback != nullptr) {
            receiver->levelCallback(receiver->levelContext, receiver->channel, level, gain);
        }
    }
    receiver->gain = gain;
}

}  // namespace keelwave::ais
