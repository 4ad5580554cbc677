#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace keelwave::sdr {

// A polyphase resampler of complex samples by a rational factor L/M, from a device's rate
// down to the tuner stream's 288000 pairs/s: conceptually each input pair is followed by L-1
// zeros, the result low-pass filtered at L times the input rate and every Mth sample kept; in
// practice each output is one dot product of T input pairs with one of the L phases of the
// filter, so nothing is computed for the zeros or for the samples thrown away. With L = 1 it
// is a plain decimating FIR filter, the case of every rate that is a multiple of 288000.
//
// The filter, a Kaiser-windowed sinc, passes 0..96 kHz (both AIS channels at ±25 kHz with
// their ±12.5 kHz and any tuner error, and more) and stops from 192 kHz on by 80 dB: whatever
// lies beyond 192 kHz folds onto 96..144 kHz at the most, so nothing folds onto the channels
// without having been attenuated 80 dB, deeper than the 8-bit stream resolves. The band
// between, 96..192 kHz, may fold onto 96..144 kHz, which no chain reads.

/// L/M in lowest terms for `inputPairsPerSecond` to `outputPairsPerSecond`.
struct ResamplingRatio {
    uint32_t interpolation = 1;  ///< L
    uint32_t decimation = 1;     ///< M
};

/// The most filter phases the resampler keeps: a ratio needing more (an input rate of an
/// awkward number of Hz) is refused, since its filter would grow with L.
constexpr uint32_t maxResamplerPhases = 512;

/// The ratio from one rate down to another, or nothing when the input is slower than the
/// output or the ratio needs more than maxResamplerPhases phases.
std::optional<ResamplingRatio> resamplingRatio(uint32_t inputPairsPerSecond,
                                               uint32_t outputPairsPerSecond);

/// The filter for a workable ratio (see resamplingRatio). Allocates; made once per device.
struct ResamplerDesign {
    ResamplingRatio ratio;
    uint32_t tapsPerPhase = 0;  ///< T
    std::vector<float> taps;    ///< L rows of T, row p for phase p, oldest input first
};

ResamplerDesign designResampler(uint32_t inputPairsPerSecond, uint32_t outputPairsPerSecond);

/// The resampler's memory between blocks (stateful): the last T-1 input pairs and where the
/// next output falls.
struct ResamplerState {
    std::vector<float> work;  ///< T-1 pairs of history, then the block in hand; I/Q floats
    uint32_t phase = 0;       ///< of the next output, 0..L-1
    uint32_t skip = 0;        ///< input pairs of the next block before the next output's newest
    uint32_t maxBlockPairs = 0;
};

/// Sizes the state for blocks of up to `maxBlockPairs` pairs and clears it, as after silence.
void resetResampler(ResamplerState& state, const ResamplerDesign& design, uint32_t maxBlockPairs);

/// The most pairs one block of `pairs` gives.
uint32_t maxResampledPairs(const ResamplerDesign& design, uint32_t pairs);

/// Resamples `pairs` (at most the state's maximum) I/Q pairs from `in` into `out`
/// (@param[out], room for maxResampledPairs) and returns the pairs written. No allocation.
uint32_t resampleBlock(const ResamplerDesign& design, ResamplerState& state, const float* in,
                       uint32_t pairs, float* out);

}  // namespace keelwave::sdr
