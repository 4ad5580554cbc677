#include "ais/sensitive/burst_window.hpp"

#include "ais/sensitive/wide_vectors.hpp"

#include <algorithm>
#include <cmath>

namespace keelwave::ais {

void startBurstWindow(BurstWindow& window, int64_t instant, float turnPerSymbol) {
    const float turn = turnPerSymbol / samplesPerSymbol;  // radians per sample
    // The turns within a run one from the other: fifteen steps lose under 1e-6.
    const Iq step{std::cos(turn), -std::sin(turn)};
    Iq within{1.0f, 0.0f};
    for (int32_t i = 0; i < rotatorRun; ++i) {
        window.stepsRe[i] = within.re;
        window.stepsIm[i] = within.im;
        within = within * step;
    }
    window.rotatorRunStep = within;
    const float start = turn * candidateLead;  // entry 0 is that far before the instant
    window.rotator = {std::cos(start), std::sin(start)};
    window.first = instant - candidateLead;
    window.filled = 0;
    window.wide = hasWideVectors();
}

namespace {

// Turns one run of samples: to = from e^(j turn), real and imaginary parts apart.
[[gnu::always_inline]] inline void turnRun(const float* __restrict fromRe,
                                           const float* __restrict fromIm,
                                           const float* __restrict turnRe,
                                           const float* __restrict turnIm, float* __restrict toRe,
                                           float* __restrict toIm) {
    for (int32_t i = 0; i < rotatorRun; ++i) {
        toRe[i] = fromRe[i] * turnRe[i] - fromIm[i] * turnIm[i];
        toIm[i] = fromRe[i] * turnIm[i] + fromIm[i] * turnRe[i];
    }
}

[[gnu::always_inline]] inline void fillRuns(BurstWindow& window, int32_t end, const float* re,
                                            const float* im, int64_t heldFirst, int32_t heldCount) {
    const int64_t heldEnd = heldFirst + heldCount;
    end = std::min(end, candidateSpan);
    while (window.filled < end) {
        const int32_t length = std::min(rotatorRun, candidateSpan - window.filled);
        const int64_t first = window.first + window.filled;
        float turnRe[rotatorRun];
        float turnIm[rotatorRun];
        const Iq rotator = window.rotator;
        for (int32_t i = 0; i < rotatorRun; ++i) {
            turnRe[i] = rotator.re * window.stepsRe[i] - rotator.im * window.stepsIm[i];
            turnIm[i] = rotator.re * window.stepsIm[i] + rotator.im * window.stepsRe[i];
        }
        float* toRe = window.re + window.filled;
        float* toIm = window.im + window.filled;
        if (first >= heldFirst && first + rotatorRun <= heldEnd && length == rotatorRun) {
            turnRun(re + (first - heldFirst), im + (first - heldFirst), turnRe, turnIm, toRe, toIm);
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

#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] void fillRunsWide(BurstWindow& window, int32_t end, const float* re,
                                              const float* im, int64_t heldFirst,
                                              int32_t heldCount) {
    fillRuns(window, end, re, im, heldFirst, heldCount);
}
#endif

}  // namespace

void fillBurstWindow(BurstWindow& window, int32_t end, const float* re, const float* im,
                     int64_t heldFirst, int32_t heldCount) {
#if defined(__x86_64__)
    if (window.wide) {
        fillRunsWide(window, end, re, im, heldFirst, heldCount);
        return;
    }
#endif
    fillRuns(window, end, re, im, heldFirst, heldCount);
}

}  // namespace keelwave::ais
