#include "ais/sensitive/burst_window.hpp"

#include <algorithm>
#include <cmath>

namespace keelwave::ais {

void startBurstWindow(BurstWindow& window, int64_t instant, float turnPerSymbol) {
    const float turn = turnPerSymbol / samplesPerSymbol;  // radians per sample
    for (int32_t i = 0; i < rotatorRun; ++i) {
        window.rotatorSteps[i] = {std::cos(turn * i), -std::sin(turn * i)};
    }
    window.rotatorRunStep = {std::cos(turn * rotatorRun), -std::sin(turn * rotatorRun)};
    const float start = turn * candidateLead;  // entry 0 is that far before the instant
    window.rotator = {std::cos(start), std::sin(start)};
    window.first = instant - candidateLead;
    window.filled = 0;
}

void fillBurstWindow(BurstWindow& window, int32_t end, const float* re, const float* im,
                     int64_t heldFirst, int32_t heldCount) {
    const int64_t heldEnd = heldFirst + heldCount;
    end = std::min(end, candidateSpan);
    while (window.filled < end) {
        const int32_t length = std::min(rotatorRun, candidateSpan - window.filled);
        const int64_t first = window.first + window.filled;
        float turnRe[rotatorRun];
        float turnIm[rotatorRun];
        for (int32_t i = 0; i < rotatorRun; ++i) {
            const Iq turn = window.rotator * window.rotatorSteps[i];
            turnRe[i] = turn.re;
            turnIm[i] = turn.im;
        }
        float* __restrict toRe = window.re + window.filled;
        float* __restrict toIm = window.im + window.filled;
        if (first >= heldFirst && first + rotatorRun <= heldEnd && length == rotatorRun) {
            const float* __restrict fromRe = re + (first - heldFirst);
            const float* __restrict fromIm = im + (first - heldFirst);
            for (int32_t i = 0; i < rotatorRun; ++i) {
                toRe[i] = fromRe[i] * turnRe[i] - fromIm[i] * turnIm[i];
                toIm[i] = fromRe[i] * turnIm[i] + fromIm[i] * turnRe[i];
            }
        } else {
            for (int32_t i = 0; i < length; ++i) {
                const int64_t sample = first + i;
                Iq value;
                if (sample >= heldFirst && sample < heldEnd) {
                    const auto at = static_cast<size_t>(sample - heldFirst);
                    value = Iq{re[at], im[at]} * Iq{turnRe[i], turnIm[i]};
                }
                toRe[i] = value.re;
                toIm[i] = value.im;
            }
        }
        window.filled += length;
        window.rotator = window.rotator * window.rotatorRunStep;
        // One Newton step towards magnitude 1 keeps the rotator from drifting in size.
        window.rotator = window.rotator * (1.5f - 0.5f * norm(window.rotator));
    }
}

}  // namespace keelwave::ais
