#include "ais/sensitive/burst_detector.hpp"

#include "ais/sensitive/wide_vectors.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace keelwave::ais {

namespace {

/// Match at which a search for a candidate starts. Noise alone crosses it at about 1.7e-4 of
/// the places looked at per polarity (the match of noise is close to exponential with mean
/// 1 / 29), some 6 times a second; a burst at 2 dB crosses it with rare exceptions.
constexpr float matchThreshold = 0.3f;
/// Entries worked on side by side by the baseline build (SSE2's registers hold four floats).
constexpr int32_t narrowTile = 4;
constexpr int32_t turnHistory = knownTurns - 1;  // turns before the batch a match reaches

// The matched-filter outputs of the batch, `tile` samples at a time (runs to the end of the
// last tile; the arrays have slack).
template <int32_t tile>
[[gnu::always_inline]] inline void filterBatch(BurstDetector& detector, const float* taps,
                                               const float* re, const float* im, int32_t count) {
    for (int32_t start = 0; start < count; start += tile) {
        float outRe[tile] = {};
        float outIm[tile] = {};
        for (int32_t t = 0; t < matchedFilterTaps; ++t) {
            const float tap = taps[t];
            const float* sourceRe = re + start + t - matchedFilterLead;
            const float* sourceIm = im + start + t - matchedFilterLead;
            for (int32_t j = 0; j < tile; ++j) {
                outRe[j] += tap * sourceRe[j];
                outIm[j] += tap * sourceIm[j];
            }
        }
        for (int32_t j = 0; j < tile; ++j) {
            detector.outputsRe[start + j] = outRe[j];
            detector.outputsIm[start + j] = outIm[j];
        }
    }
}

// The matches of one position's turns of the batch, `tile` turns at a time.
template <int32_t tile>
[[gnu::always_inline]] inline void matchTurns(const BurstDetector& detector,
                                              PositionTurns& position) {
    for (int32_t start = 0; start < position.count; start += tile) {
        float aRe[tile] = {};
        float aIm[tile] = {};
        float bRe[tile] = {};
        float bIm[tile] = {};
        float power[tile] = {};
        for (int32_t k = 0; k < knownTurns; ++k) {
            const float weightRe = detector.weightsRe[k];
            const float weightIm = detector.weightsIm[k];
            const float* wRe = position.turnsRe + k + start;
            const float* wIm = position.turnsIm + k + start;
            const float* wPower = position.powers + k + start;
            for (int32_t j = 0; j < tile; ++j) {
                aRe[j] += weightRe * wRe[j];
                aIm[j] += weightRe * wIm[j];
                bRe[j] += weightIm * wRe[j];
                bIm[j] += weightIm * wIm[j];
                power[j] += wPower[j];
            }
        }
        // A - jB matches the reference's levels, A + jB the reversed ones.
        for (int32_t j = 0; j < tile; ++j) {
            const float straightRe = aRe[j] + bIm[j];
            const float straightIm = aIm[j] - bRe[j];
            const float reversedRe = aRe[j] - bIm[j];
            const float reversedIm = aIm[j] + bRe[j];
            position.straightPower[start + j] = straightRe * straightRe + straightIm * straightIm;
            position.reversedPower[start + j] = reversedRe * reversedRe + reversedIm * reversedIm;
            position.scale[start + j] = power[j] * detector.referencePower;
        }
    }
}

template <int32_t tile>
[[gnu::always_inline]] inline void sumBatch(BurstDetector& detector, const float* taps,
                                            const float* re, const float* im, int64_t firstSample,
                                            int32_t count) {
    filterBatch<tile>(detector, taps, re, im, count);
    // Turns at the positions looked at, one symbol apart within each position.
    for (PositionTurns& position : detector.positions) {
        position.count = 0;
    }
    int32_t within = static_cast<int32_t>(firstSample % samplesPerSymbol);
    for (int32_t i = 0; i < count; ++i) {
        for (int32_t p = 0; p < detectorPositions; ++p) {
            if (within != detectorPosition[p]) {
                continue;
            }
            PositionTurns& position = detector.positions[p];
            const float zRe = detector.outputsRe[i];
            const float zIm = detector.outputsIm[i];
            const float wRe = zRe * position.lastRe + zIm * position.lastIm;
            const float wIm = zIm * position.lastRe - zRe * position.lastIm;
            const int32_t at = turnHistory + position.count++;
            position.turnsRe[at] = wRe;
            position.turnsIm[at] = wIm;
            position.powers[at] = wRe * wRe + wIm * wIm;
            position.lastRe = zRe;
            position.lastIm = zIm;
        }
        within = within + 1 == samplesPerSymbol ? 0 : within + 1;
    }
    for (PositionTurns& position : detector.positions) {
        matchTurns<tile>(detector, position);
    }
}

#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] void sumBatchWide(BurstDetector& detector, const float* taps,
                                              const float* re, const float* im, int64_t firstSample,
                                              int32_t count) {
    sumBatch<detectorBatchSlack>(detector, taps, re, im, firstSample, count);
}
#endif

void sumBatchNarrow(BurstDetector& detector, const float* taps, const float* re, const float* im,
                    int64_t firstSample, int32_t count) {
    sumBatch<narrowTile>(detector, taps, re, im, firstSample, count);
}

// The angle of the match at turn `i` of the batch of `position`, recomputed: the detector's
// estimate of the carrier's frequency error, radians per symbol.
float matchAngle(const BurstDetector& detector, const PositionTurns& position, int32_t i,
                 bool conjugate) {
    Iq a;
    Iq b;
    for (int32_t k = 0; k < knownTurns; ++k) {
        const Iq w{position.turnsRe[k + i], position.turnsIm[k + i]};
        a = a + w * detector.weightsRe[k];
        b = b + w * detector.weightsIm[k];
    }
    const Iq match = conjugate ? Iq{a.re - b.im, a.im + b.re} : Iq{a.re + b.im, a.im - b.re};
    return std::atan2(match.im, match.re);
}

}  // namespace

void initBurstDetector(BurstDetector& detector, const GmskReference& reference) {
    detector = BurstDetector{};
    for (int32_t k = 0; k < knownTurns; ++k) {
        const Iq turn = reference.turns[firstKnownSymbol + 1 + k];
        detector.weightsRe[k] = turn.re;
        detector.weightsIm[k] = turn.im;
        detector.referencePower += norm(turn);
    }
    detector.nextSample = 0;
    detector.searching = false;
    detector.best = BurstCandidate{};
    detector.wide = hasWideVectors();
}

int32_t detectBursts(BurstDetector& detector, const GmskReference& reference, const float* re,
                     const float* im, int64_t first, int64_t end, BurstCandidate* found) {
    const auto count = static_cast<int32_t>(end - detector.nextSample);
    if (count <= 0) {
        return 0;
    }
    const int64_t offset = detector.nextSample - first;
    const float* taps = reference.matchedTaps[0];
#if defined(__x86_64__)
    if (detector.wide) {
        sumBatchWide(detector, taps, re + offset, im + offset, detector.nextSample, count);
    } else {
        sumBatchNarrow(detector, taps, re + offset, im + offset, detector.nextSample, count);
    }
#else
    sumBatchNarrow(detector, taps, re + offset, im + offset, detector.nextSample, count);
#endif

    // The matches in the order of their samples.
    int32_t candidates = 0;
    int32_t taken[detectorPositions] = {};
    int32_t within = static_cast<int32_t>(detector.nextSample % samplesPerSymbol);
    for (int32_t i = 0; i < count; ++i) {
        const int64_t sample = detector.nextSample + i;
        for (int32_t p = 0; p < detectorPositions; ++p) {
            if (within != detectorPosition[p]) {
                continue;
            }
            const PositionTurns& position = detector.positions[p];
            const int32_t at = taken[p]++;
            const bool conjugate = position.reversedPower[at] > position.straightPower[at];
            const float matchPower =
                conjugate ? position.reversedPower[at] : position.straightPower[at];
            const float scale = position.scale[at];
            if (!detector.searching) {
                if (!(matchPower > matchThreshold * scale && scale > 0.0f)) {
                    continue;
                }
                detector.searching = true;
                detector.best = BurstCandidate{};
            }
            if (matchPower > detector.best.match * scale) {
                detector.best = {sample, matchAngle(detector, position, at, conjugate),
                                 matchPower / scale, conjugate};
                detector.searchEnd = sample + candidateWindow;
            }
        }
        if (detector.searching && sample + 1 >= detector.searchEnd) {
            found[candidates++] = detector.best;
            detector.searching = false;
        }
        within = within + 1 == samplesPerSymbol ? 0 : within + 1;
    }

    detector.nextSample = end;
    for (PositionTurns& position : detector.positions) {
        const size_t keep = sizeof(float) * turnHistory;
        std::memmove(position.turnsRe, position.turnsRe + position.count, keep);
        std::memmove(position.turnsIm, position.turnsIm + position.count, keep);
        std::memmove(position.powers, position.powers + position.count, keep);
    }
    return candidates;
}

}  // namespace keelwave::ais
