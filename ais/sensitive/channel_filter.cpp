#include "ais/sensitive/channel_filter.hpp"

#include "ais/sensitive/iq.hpp"
#include "ais/sensitive/wide_vectors.hpp"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace keelwave::ais {

namespace {

/// The prototype's -6 dB point: just below half the channel's output rate, so that its stopband
/// begins 37 kHz from the band's centre, 38 kHz from a channel 1 kHz beside it.
constexpr double cutoffHz = 23500.0;
/// Kaiser window shape: side lobes 63 dB down and more, the transition 25 kHz wide with 42
/// taps.
constexpr double kaiserBeta = 6.0;
/// The band's centre is the multiple of this nearest the channel: its turn over the 6 samples
/// of an output is a whole number of half turns.
constexpr double separableHz = tunerRateHz / (2.0 * channelDecimation);
/// Terms of the series for the window's Bessel function: enough for double precision at
/// the window's largest argument, kaiserBeta.
constexpr int32_t besselTerms = 30;
/// Outputs between renormalisations of the rotator. Each step rounds its magnitude by about
/// 1e-16, so this keeps it at 1 far beyond float precision.
constexpr int32_t renormaliseEvery = 4096;
/// Outputs summed side by side by the baseline build (SSE2's registers hold four floats).
constexpr int32_t narrowFilterTile = 4;
constexpr int32_t reach = rowTaps - 1;  // outputs before the chunk's first that it reads

// Modified Bessel function of the first kind, order 0, by its power series.
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int32_t k = 1; k < besselTerms; ++k) {
        const double factor = x / (2.0 * k);
        term *= factor * factor;
        sum += term;
    }
    return sum;
}

// Sums `count` outputs, `tile` at a time: every tap weighs a run of consecutive outputs of its
// row, the partial sums staying in registers while the taps go by. Then turns each output down
// to 0 Hz: the rotator in double at each tile's start, its turns within the tile in float.
// Runs past `count` to the end of its last tile (the rows and outputs have slack for that).
template <int32_t tile>
[[gnu::always_inline]] inline float sumOutputs(ChannelFilter& filter, int32_t count,
                                               float* outputsRe, float* outputsIm) {
    float powers[tile] = {};
    float turnsRe[tile];
    float turnsIm[tile];
    for (int32_t j = 0; j < tile; ++j) {
        turnsRe[j] = filter.tileTurnsRe[j];
        turnsIm[j] = filter.tileTurnsIm[j];
    }
    for (int32_t start = 0; start < count; start += tile) {
        // The even rows' products and the odd rows' go to sums of their own, so that each
        // sum waits on half of them: the additions' latency, not their number, bounds the
        // loop with one sum for the real part and one for the imaginary.
        float evenRe[tile] = {};
        float evenIm[tile] = {};
        float oddRe[tile] = {};
        float oddIm[tile] = {};
        // Unrolled, the 42 taps cost their multiplications and little else.
#pragma GCC unroll 3
        for (int32_t p = 0; p < channelDecimation; p += 2) {
#pragma GCC unroll 7
            for (int32_t q = 0; q < rowTaps; ++q) {
                const float evenTap = filter.taps[p][q];
                const float oddTap = filter.taps[p + 1][q];
                const float* evenXRe = filter.rowsRe[p] + reach + start - q;
                const float* evenXIm = filter.rowsIm[p] + reach + start - q;
                const float* oddXRe = filter.rowsRe[p + 1] + reach + start - q;
                const float* oddXIm = filter.rowsIm[p + 1] + reach + start - q;
                for (int32_t j = 0; j < tile; ++j) {
                    evenRe[j] += evenTap * evenXRe[j];
                    evenIm[j] += evenTap * evenXIm[j];
                    oddRe[j] += oddTap * oddXRe[j];
                    oddIm[j] += oddTap * oddXIm[j];
                }
            }
        }
        float sumsRe[tile];
        float sumsIm[tile];
        for (int32_t j = 0; j < tile; ++j) {
            sumsRe[j] = evenRe[j] + oddRe[j];
            sumsIm[j] = evenIm[j] + oddIm[j];
        }
        const auto baseRe = static_cast<float>(filter.rotatorRe);
        const auto baseIm = static_cast<float>(filter.rotatorIm);
        for (int32_t j = 0; j < tile; ++j) {
            const float rotRe = baseRe * turnsRe[j] - baseIm * turnsIm[j];
            const float rotIm = baseRe * turnsIm[j] + baseIm * turnsRe[j];
            outputsRe[start + j] = sumsRe[j] * rotRe - sumsIm[j] * rotIm;
            outputsIm[start + j] = sumsRe[j] * rotIm + sumsIm[j] * rotRe;
            const float inside = start + j < count ? 1.0f : 0.0f;  // the last tile runs over
            powers[j] += inside * (sumsRe[j] * sumsRe[j] + sumsIm[j] * sumsIm[j]);
        }
        // On by a whole tile in one step, or output by output over the last one.
        const int32_t steps = count - start < tile ? count - start : tile;
        const bool wholeTile = steps == tile;
        const double stepRe = wholeTile ? filter.tileStepRe[tile == filterTile] : filter.stepRe;
        const double stepIm = wholeTile ? filter.tileStepIm[tile == filterTile] : filter.stepIm;
        for (int32_t step = 0; step < (wholeTile ? 1 : steps); ++step) {
            const double nextRe = filter.rotatorRe * stepRe - filter.rotatorIm * stepIm;
            filter.rotatorIm = filter.rotatorRe * stepIm + filter.rotatorIm * stepRe;
            filter.rotatorRe = nextRe;
        }
        filter.outputsSinceRenormalised += steps;
        if (filter.outputsSinceRenormalised >= renormaliseEvery) {
            const double magnitude = std::hypot(filter.rotatorRe, filter.rotatorIm);
            filter.rotatorRe /= magnitude;
            filter.rotatorIm /= magnitude;
            filter.outputsSinceRenormalised = 0;
        }
    }
    float power = 0.0f;
    for (int32_t j = 0; j < tile; ++j) {
        power += powers[j];
    }
    return power;
}

/// Four floats side by side, as SSE2's and NEON's registers hold them.
using Lanes = float __attribute__((vector_size(4 * sizeof(float))));
/// Outputs whose pairs dealOutputs deals at once: one per lane.
constexpr int32_t dealtTogether = 4;

Lanes loadLanes(const float* from) {
    Lanes lanes;
    std::memcpy(&lanes, from, sizeof lanes);
    return lanes;
}

void storeLanes(float* to, Lanes lanes) {
    std::memcpy(to, &lanes, sizeof lanes);
}

// Deals the pairs of four whole outputs into the rows, entries `at` to `at` + 3. The 48
// floats are twelve runs of four, I and Q of two pairs each; three 4 x 4 transposes of the
// runs, taken across the four outputs, give each row's I and Q for the four outputs in one
// register: a handful of shuffles instead of 48 single moves.
void dealOutputs(ChannelFilter& filter, const float* samples, int32_t at) {
    constexpr int32_t floatsPerOutput = 2 * channelDecimation;
    for (int32_t run = 0; run < channelDecimation / 2; ++run) {
        const Lanes a = loadLanes(samples + 4 * run);
        const Lanes b = loadLanes(samples + floatsPerOutput + 4 * run);
        const Lanes c = loadLanes(samples + 2 * floatsPerOutput + 4 * run);
        const Lanes d = loadLanes(samples + 3 * floatsPerOutput + 4 * run);
        const Lanes abLow = __builtin_shufflevector(a, b, 0, 4, 1, 5);
        const Lanes abHigh = __builtin_shufflevector(a, b, 2, 6, 3, 7);
        const Lanes cdLow = __builtin_shufflevector(c, d, 0, 4, 1, 5);
        const Lanes cdHigh = __builtin_shufflevector(c, d, 2, 6, 3, 7);
        const Lanes rows[2][2] = {{__builtin_shufflevector(abLow, cdLow, 0, 1, 4, 5),
                                   __builtin_shufflevector(abLow, cdLow, 2, 3, 6, 7)},
                                  {__builtin_shufflevector(abHigh, cdHigh, 0, 1, 4, 5),
                                   __builtin_shufflevector(abHigh, cdHigh, 2, 3, 6, 7)}};
        for (int32_t half = 0; half < 2; ++half) {
            const int32_t row = 2 * run + half;
            const float turnRe = filter.rowTurnRe[row];
            const float turnIm = filter.rowTurnIm[row];
            const Lanes re = rows[half][0];
            const Lanes im = rows[half][1];
            storeLanes(filter.rowsRe[row] + at, re * turnRe - im * turnIm);
            storeLanes(filter.rowsIm[row] + at, re * turnIm + im * turnRe);
        }
    }
}

// Deals one pair into entry `at` of row `row`, turned by the row's turn.
inline void dealPair(ChannelFilter& filter, const float* pair, int32_t row, int32_t at) {
    const float turnRe = filter.rowTurnRe[row];
    const float turnIm = filter.rowTurnIm[row];
    filter.rowsRe[row][at] = pair[0] * turnRe - pair[1] * turnIm;
    filter.rowsIm[row][at] = pair[0] * turnIm + pair[1] * turnRe;
}

#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] float sumOutputsWide(ChannelFilter& filter, int32_t count,
                                                 float* outputsRe, float* outputsIm) {
    return sumOutputs<filterTile>(filter, count, outputsRe, outputsIm);
}
#endif

float sumOutputsNarrow(ChannelFilter& filter, int32_t count, float* outputsRe, float* outputsIm) {
    return sumOutputs<narrowFilterTile>(filter, count, outputsRe, outputsIm);
}

}  // namespace

void initChannelFilter(ChannelFilter& filter, double channelOffsetHz) {
    double prototype[channelFilterTaps];
    const double centre = (channelFilterTaps - 1) / 2.0;
    const double cutoff = cutoffHz / tunerRateHz;  // cycles per sample
    double sum = 0.0;
    for (int32_t k = 0; k < channelFilterTaps; ++k) {
        const double x = k - centre;
        const double position = x / centre;
        const double window =
            besselI0(kaiserBeta * std::sqrt(1.0 - position * position)) / besselI0(kaiserBeta);
        prototype[k] = std::sin(2.0 * pi * cutoff * x) / (pi * x) * window;
        sum += prototype[k];
    }
    // Tap k weighs the input k samples back; in row p, tap q is k = 6q + 5 - p. The band's
    // centre is n 24 kHz, whose turn over 6 samples is n half turns: (-1)^(n q) for tap q.
    const auto halfTurns = static_cast<int32_t>(std::lround(channelOffsetHz / separableHz));
    const double band = pi * halfTurns / channelDecimation;  // v, radians per sample
    for (int32_t p = 0; p < channelDecimation; ++p) {
        for (int32_t q = 0; q < rowTaps; ++q) {
            const int32_t k = channelDecimation * q + channelDecimation - 1 - p;
            const double sign = (halfTurns * q) % 2 == 0 ? 1.0 : -1.0;
            filter.taps[p][q] = static_cast<float>(sign * prototype[k] / sum);
        }
        const double rowTurn = band * (channelDecimation - 1 - p - centre);
        filter.rowTurnRe[p] = static_cast<float>(std::cos(rowTurn));
        filter.rowTurnIm[p] = static_cast<float>(std::sin(rowTurn));
    }
    const double turn = 2.0 * pi * channelOffsetHz / tunerRateHz;  // w, radians per sample
    std::memset(filter.rowsRe, 0, sizeof filter.rowsRe);
    std::memset(filter.rowsIm, 0, sizeof filter.rowsIm);
    filter.pairsSinceOutput = 0;
    filter.rotatorRe = 1.0;
    filter.rotatorIm = 0.0;
    filter.stepRe = std::cos(-channelDecimation * turn);
    filter.stepIm = std::sin(-channelDecimation * turn);
    filter.outputsSinceRenormalised = 0;
    for (int32_t j = 0; j < filterTile; ++j) {
        filter.tileTurnsRe[j] = static_cast<float>(std::cos(-channelDecimation * turn * j));
        filter.tileTurnsIm[j] = static_cast<float>(std::sin(-channelDecimation * turn * j));
    }
    for (const int32_t tile : {narrowFilterTile, filterTile}) {
        filter.tileStepRe[tile == filterTile] = std::cos(-channelDecimation * turn * tile);
        filter.tileStepIm[tile == filterTile] = std::sin(-channelDecimation * turn * tile);
    }
    filter.wide = hasWideVectors();
}

int32_t filterChannel(ChannelFilter& filter, const float* samples, int32_t pairs, float* outputsRe,
                      float* outputsIm, float& power) {
    // Deal the pairs into the rows: first into the output being filled, then whole outputs.
    int32_t p = filter.pairsSinceOutput;
    int32_t at = reach;
    int32_t i = 0;
    for (; i < pairs && p != 0; ++i) {
        dealPair(filter, samples + 2 * i, p, at);
        if (++p == channelDecimation) {
            p = 0;
            ++at;
        }
    }
    for (; i + dealtTogether * channelDecimation <= pairs;
         i += dealtTogether * channelDecimation, at += dealtTogether) {
        dealOutputs(filter, samples + 2 * i, at);
    }
    for (; i + channelDecimation <= pairs; i += channelDecimation, ++at) {
#pragma GCC unroll 6
        for (int32_t row = 0; row < channelDecimation; ++row) {
            dealPair(filter, samples + 2 * (i + row), row, at);
        }
    }
    for (; i < pairs; ++i, ++p) {
        dealPair(filter, samples + 2 * i, p, at);
    }
    const int32_t count = at - reach;
#if defined(__x86_64__)
    power = filter.wide ? sumOutputsWide(filter, count, outputsRe, outputsIm)
                        : sumOutputsNarrow(filter, count, outputsRe, outputsIm);
#else
    power = sumOutputsNarrow(filter, count, outputsRe, outputsIm);
#endif
    // The outputs the next chunk reaches back to, and the one being filled, move to the front.
    filter.pairsSinceOutput = p;
    for (int32_t row = 0; row < channelDecimation; ++row) {
        std::memmove(filter.rowsRe[row], filter.rowsRe[row] + count, sizeof(float) * (reach + 1));
        std::memmove(filter.rowsIm[row], filter.rowsIm[row] + count, sizeof(float) * (reach + 1));
    }
    return count;
}

}  // namespace keelwave::ais
