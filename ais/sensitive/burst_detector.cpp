#include "ais/sensitive/burst_detector.hpp"

#include "ais/sensitive/wide_vectors.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace keelwave::ais {

namespace {

/// Match at which a search for a candidate starts. Noise alone gives some 18 candidates a
/// second (the match of noise is close to exponential with mean 1 / 29, the best of four ways
/// taken), each of which costs a synchronisation; at 0.3 it gave 88. Bursts at 2 dB signal to
/// noise, at the index 0.40 or 0.60, or with 8 training bits lost to the ramp, were decoded
/// alike at both thresholds; at 0.4 the Long Beach audio lost a burst.
constexpr float matchThreshold = 0.35f;
/// Match from which the samples' own turns count. Their noise is wider than the matched
/// filter's, so noise alone reaches it practically never (e^(-0.6 * 29) = 3e-8 of the places
/// looked at); a burst 4 kHz off frequency at 10 dB signal to noise matches at about 0.8.
constexpr float plainThreshold = 0.6f;
/// Entries worked on side by side by the baseline build (SSE2's registers hold four floats).
constexpr int32_t narrowTile = 4;
/// Matches of the first position's turns beside which the second position is looked at too,
/// through the matched filter and of the samples themselves. A preamble whose instant lies
/// nearer the second position still matches at the first well above these (the turns of a
/// symbol 0.4 symbols off keep most of their correlation); noise crosses the first at about
/// e^(-0.15 * 29) = 1 % of the places per way. The samples' own turns are noisier: at 0.4 a
/// burst 4 kHz off frequency at 8 dB was lost now and then (6 % of them).
constexpr float lookCloserThreshold = 0.15f;
constexpr float lookCloserPlainThreshold = 0.2f;
constexpr int32_t turnHistory = knownTurns - 1;  // turns before the batch a match reaches

// The matched-filter outputs of the batch, `tile` samples at a time (runs to the end of the
// last tile; the arrays have slack).
template <int32_t tile>
[[gnu::always_inline]] inline void filterBatch(BurstDetector& detector, const float* taps,
                                               const float* re, const float* im, int32_t count) {
    for (int32_t start = 0; start < count; start += tile) {
        float outRe[tile] = {};
        float outIm[tile] = {};
#pragma GCC unroll 16
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

// The matches of one position's turns of the batch, `tile` turns at a time. The training's
// turns repeat every 4 symbols, so they are summed by class first; each phase then weighs the
// 4 class sums, the boundary turn and the flag's turns (the same in both phases).
template <int32_t tile>
[[gnu::always_inline]] inline void matchTurns(const TurnPath& path, PositionTurns& position,
                                              int32_t from, int32_t to) {
    for (int32_t start = from; start < to; start += tile) {
        // The training's turns summed by class, four classes side by side.
        float classRe[turnPeriod * tile] = {};
        float classIm[turnPeriod * tile] = {};
        float power[tile] = {};
#pragma GCC unroll 5
        for (int32_t k = 0; k + turnPeriod <= trainingTurns; k += turnPeriod) {
            const float* wRe = position.turnsRe + k + start;
            const float* wIm = position.turnsIm + k + start;
#pragma GCC unroll 4
            for (int32_t c = 0; c < turnPeriod; ++c) {
                for (int32_t j = 0; j < tile; ++j) {
                    classRe[c * tile + j] += wRe[c + j];
                    classIm[c * tile + j] += wIm[c + j];
                }
            }
        }
        for (int32_t k = trainingTurns / turnPeriod * turnPeriod; k < trainingTurns; ++k) {
            for (int32_t j = 0; j < tile; ++j) {
                classRe[(k % turnPeriod) * tile + j] += position.turnsRe[k + start + j];
                classIm[(k % turnPeriod) * tile + j] += position.turnsIm[k + start + j];
            }
        }
        float flagARe[tile] = {};
        float flagAIm[tile] = {};
        float flagBRe[tile] = {};
        float flagBIm[tile] = {};
#pragma GCC unroll 7
        for (int32_t k = trainingTurns + 1; k < knownTurns; ++k) {
            const float weightRe = path.flagRe[k - trainingTurns - 1];
            const float weightIm = path.flagIm[k - trainingTurns - 1];
            for (int32_t j = 0; j < tile; ++j) {
                const float wRe = position.turnsRe[k + start + j];
                const float wIm = position.turnsIm[k + start + j];
                flagARe[j] += weightRe * wRe;
                flagAIm[j] += weightRe * wIm;
                flagBRe[j] += weightIm * wRe;
                flagBIm[j] += weightIm * wIm;
            }
        }
#pragma GCC unroll 29
        for (int32_t k = 0; k < knownTurns; ++k) {
            for (int32_t j = 0; j < tile; ++j) {
                power[j] += position.powers[k + start + j];
            }
        }
        // The best way is kept with its power weighed by its phase's 1 / sum |wref|^2.
        float best[tile] = {};
        int32_t bestWay[tile] = {};
        for (int32_t phase = 0; phase < trainingPhases; ++phase) {
            float aRe[tile];
            float aIm[tile];
            float bRe[tile];
            float bIm[tile];
            const float* edgeRe = position.turnsRe + trainingTurns + start;
            const float* edgeIm = position.turnsIm + trainingTurns + start;
            for (int32_t j = 0; j < tile; ++j) {
                aRe[j] = flagARe[j] + path.edgeRe[phase] * edgeRe[j];
                aIm[j] = flagAIm[j] + path.edgeRe[phase] * edgeIm[j];
                bRe[j] = flagBRe[j] + path.edgeIm[phase] * edgeRe[j];
                bIm[j] = flagBIm[j] + path.edgeIm[phase] * edgeIm[j];
            }
#pragma GCC unroll 4
            for (int32_t c = 0; c < turnPeriod; ++c) {
                const float weightRe = path.classRe[phase][c];
                const float weightIm = path.classIm[phase][c];
                for (int32_t j = 0; j < tile; ++j) {
                    aRe[j] += weightRe * classRe[c * tile + j];
                    aIm[j] += weightRe * classIm[c * tile + j];
                    bRe[j] += weightIm * classRe[c * tile + j];
                    bIm[j] += weightIm * classIm[c * tile + j];
                }
            }
            // A - jB matches the reference's levels, A + jB the reversed ones.
            const int32_t straight = 2 * phase;
            const int32_t reversed = 2 * phase + 1;
            for (int32_t j = 0; j < tile; ++j) {
                const float straightRe = aRe[j] + bIm[j];
                const float straightIm = aIm[j] - bRe[j];
                const float reversedRe = aRe[j] - bIm[j];
                const float reversedIm = aIm[j] + bRe[j];
                position.matchRe[straight][start + j] = straightRe;
                position.matchIm[straight][start + j] = straightIm;
                position.matchRe[reversed][start + j] = reversedRe;
                position.matchIm[reversed][start + j] = reversedIm;
                const float weighedStraight =
                    (straightRe * straightRe + straightIm * straightIm) * path.inversePower[phase];
                const float weighedReversed =
                    (reversedRe * reversedRe + reversedIm * reversedIm) * path.inversePower[phase];
                const bool straightBetter = weighedStraight > best[j];
                best[j] = straightBetter ? weighedStraight : best[j];
                bestWay[j] = straightBetter ? straight : bestWay[j];
                const bool reversedBetter = weighedReversed > best[j];
                best[j] = reversedBetter ? weighedReversed : best[j];
                bestWay[j] = reversedBetter ? reversed : bestWay[j];
            }
        }
        for (int32_t j = 0; j < tile; ++j) {
            position.power[start + j] = power[j];
            position.bestPower[start + j] = best[j];
            position.bestWay[start + j] = bestWay[j];
        }
    }
}

// The turns over each symbol of the samples `re`, `im` from `first` on, one symbol apart, as
// the batch of `position`: the samples are gathered first, so that the turns are then worked
// out side by side.
inline void addTurns(PositionTurns& position, const float* re, const float* im, int32_t first,
                     int32_t count) {
    float zRe[positionBatch + 1];  // entry 0: the sample one symbol before the first
    float zIm[positionBatch + 1];
    zRe[0] = position.lastRe;
    zIm[0] = position.lastIm;
    int32_t turns = 0;
    for (int32_t i = first; i < count; i += samplesPerSymbol) {
        ++turns;
        zRe[turns] = re[i];
        zIm[turns] = im[i];
    }
    float* wRe = position.turnsRe + turnHistory;
    float* wIm = position.turnsIm + turnHistory;
    float* powers = position.powers + turnHistory;
    for (int32_t m = 0; m < turns; ++m) {
        wRe[m] = zRe[m + 1] * zRe[m] + zIm[m + 1] * zIm[m];
        wIm[m] = zIm[m + 1] * zRe[m] - zRe[m + 1] * zIm[m];
        powers[m] = wRe[m] * wRe[m] + wIm[m] * wIm[m];
    }
    position.count = turns;
    position.lastRe = zRe[turns];
    position.lastIm = zIm[turns];
}

// Matches the first position's turns of `path`, and the second's beside those of the first
// that match above `threshold`: runs of them, each a whole tile at a time. `firstOwn` and
// `firstOther` are the batch's first samples at the two positions.
template <int32_t tile>
[[gnu::always_inline]] inline void lookCloser(TurnPath& path, float threshold, int32_t firstOwn,
                                              int32_t firstOther) {
    PositionTurns& own = path.positions[0];
    PositionTurns& other = path.positions[1];
    matchTurns<tile>(path, own, 0, own.count);
    const auto hot = [&](int32_t i) {
        return i >= 0 && i < own.count && own.bestPower[i] > threshold * own.power[i];
    };
    // The first position's turns on either side of the second's turn `at`, the one before
    // possibly the last of the batch before.
    const auto closer = [&](int32_t at) {
        const int32_t before = (firstOther + samplesPerSymbol * at - firstOwn) / samplesPerSymbol -
                               (firstOther < firstOwn ? 1 : 0);
        return hot(before) || hot(before + 1) || (before < 0 && path.lastTurnHot);
    };
    for (int32_t j = 0; j < other.count;) {
        if (!closer(j)) {
            other.bestPower[j] = 0.0f;
            ++j;
            continue;
        }
        int32_t end = j + 1;
        while (end < other.count && closer(end)) {
            ++end;
        }
        const int32_t tileEnd = std::min(other.count, j + (end - j + tile - 1) / tile * tile);
        matchTurns<tile>(path, other, j, tileEnd);
        j = tileEnd;
    }
    path.lastTurnHot = hot(own.count - 1);
}

template <int32_t tile>
[[gnu::always_inline]] inline void sumBatch(BurstDetector& detector, const float* taps,
                                            const float* re, const float* im, int64_t firstSample,
                                            int32_t count) {
    filterBatch<tile>(detector, taps, re, im, count);
    // Turns at the positions looked at, one symbol apart within each position.
    const auto within = static_cast<int32_t>(firstSample % samplesPerSymbol);
    for (int32_t p = 0; p < detectorPositions; ++p) {
        const int32_t first = (detectorPosition[p] - within + samplesPerSymbol) % samplesPerSymbol;
        addTurns(detector.matched.positions[p], detector.outputsRe, detector.outputsIm, first,
                 count);
        addTurns(detector.plain.positions[p], re, im, first, count);
    }
    // The first position everywhere; the second only beside a turn of the first that matches
    // at all: both within a symbol of each other, a preamble there matches at both.
    const int32_t firstOwn = (detectorPosition[0] - within + samplesPerSymbol) % samplesPerSymbol;
    const int32_t firstOther = (detectorPosition[1] - within + samplesPerSymbol) % samplesPerSymbol;
    lookCloser<tile>(detector.matched, lookCloserThreshold, firstOwn, firstOther);
    lookCloser<tile>(detector.plain, lookCloserPlainThreshold, firstOwn, firstOther);
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

// Whether turn `i` of `position` matches better than `floor` (normalised) in its best way,
// and if so how well, which way, and the match itself.
inline bool matchAbove(const PositionTurns& position, int32_t i, float floor, float& match,
                       int32_t& way, Iq& value) {
    const float power = position.power[i];
    const float best = position.bestPower[i];
    if (!(best > floor * power) || !(power > 0.0f)) {
        return false;
    }
    match = best / power;
    way = position.bestWay[i];
    value = {position.matchRe[way][i], position.matchIm[way][i]};
    return true;
}

// The weights of one phase's reference turns: the training's by class (taken where the
// training's pattern is whole, clear of its first symbol), its last turn, and the flag's.
void takeWeights(TurnPath& path, int32_t phase, const Iq* turns) {
    const auto turn = [turns](int32_t k) { return turns[firstKnownSymbol + 1 + k]; };
    float power = 0.0f;
    for (int32_t k = 0; k < trainingTurns; ++k) {
        const Iq weight = turn(turnPeriod + k % turnPeriod);
        path.classRe[phase][k % turnPeriod] = weight.re;
        path.classIm[phase][k % turnPeriod] = weight.im;
        power += norm(weight);
    }
    path.edgeRe[phase] = turn(trainingTurns).re;
    path.edgeIm[phase] = turn(trainingTurns).im;
    power += norm(turn(trainingTurns));
    for (int32_t k = trainingTurns + 1; k < knownTurns; ++k) {
        path.flagRe[k - trainingTurns - 1] = turn(k).re;
        path.flagIm[k - trainingTurns - 1] = turn(k).im;
        power += norm(turn(k));
    }
    path.referencePower[phase] = power;
    path.inversePower[phase] = 1.0f / power;
}

}  // namespace

void initBurstDetector(BurstDetector& detector, const GmskReference& reference) {
    detector = BurstDetector{};
    for (int32_t phase = 0; phase < trainingPhases; ++phase) {
        takeWeights(detector.matched, phase, reference.preambles[phase].turns);
        takeWeights(detector.plain, phase, reference.preambles[phase].signalTurns);
    }
    detector.nextSample = 0;
    detector.searching = false;
    detector.matched.lastTurnHot = false;
    detector.plain.lastTurnHot = false;
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

    // The matches in the order of their samples: symbol by symbol, position by position.
    int32_t candidates = 0;
    int32_t taken[detectorPositions] = {};
    const int64_t firstSymbol = detector.nextSample / samplesPerSymbol * samplesPerSymbol;
    for (int64_t symbol = firstSymbol; symbol < end; symbol += samplesPerSymbol) {
        for (int32_t p = 0; p < detectorPositions; ++p) {
            const int64_t sample = symbol + detectorPosition[p];
            if (sample < detector.nextSample || sample >= end) {
                continue;
            }
            // A search ends once it has gone candidateWindow samples without a better match.
            if (detector.searching && sample >= detector.searchEnd) {
                detector.best.turnPerSymbol =
                    std::atan2(detector.bestMatch.im, detector.bestMatch.re);
                found[candidates++] = detector.best;
                detector.searching = false;
            }
            const int32_t at = taken[p]++;
            // The plain turns count where they match strongly and better.
            const float floor = detector.searching ? detector.best.match : matchThreshold;
            float match = 0.0f;
            int32_t way = 0;
            Iq value;
            const bool matched =
                matchAbove(detector.matched.positions[p], at, floor, match, way, value);
            const float plainFloor = std::max(plainThreshold, matched ? match : floor);
            if (!matchAbove(detector.plain.positions[p], at, plainFloor, match, way, value) &&
                !matched) {
                continue;
            }
            // A better match than any before in this search, or the first of a new one.
            detector.searching = true;
            detector.best = {sample, 0.0f, match, way % 2 != 0, way / 2};
            detector.bestMatch = value;
            detector.searchEnd = sample + candidateWindow;
        }
    }

    detector.nextSample = end;
    for (TurnPath* path : {&detector.matched, &detector.plain}) {
        for (PositionTurns& position : path->positions) {
            const size_t keep = sizeof(float) * turnHistory;
            std::memmove(position.turnsRe, position.turnsRe + position.count, keep);
            std::memmove(position.turnsIm, position.turnsIm + position.count, keep);
            std::memmove(position.powers, position.powers + position.count, keep);
        }
    }
    return candidates;
}

}  // namespace keelwave::ais
