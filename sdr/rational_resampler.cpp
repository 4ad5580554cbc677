#include "sdr/rational_resampler.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace keelwave::sdr {

namespace {

/// Band the filter passes, and where it stops, as fractions of the output rate (96 and
/// 192 kHz at 288000 pairs/s).
constexpr double passbandFraction = 1.0 / 3.0;
constexpr double stopbandFraction = 2.0 / 3.0;
constexpr double stopbandAttenuationDb = 80.0;
constexpr double pi = 3.14159265358979323846;

/// Kaiser's estimates of the window's shape and the filter's length for an attenuation.
double kaiserBeta(double attenuationDb) {
    constexpr double slope = 0.1102;
    constexpr double offsetDb = 8.7;
    return slope * (attenuationDb - offsetDb);
}
uint32_t kaiserLength(double attenuationDb, double transitionRadiansPerSample) {
    constexpr double offsetDb = 7.95;
    constexpr double widthFactor = 2.285;
    return static_cast<uint32_t>(
               std::ceil((attenuationDb - offsetDb) / (widthFactor * transitionRadiansPerSample))) +
           1;
}

/// The zeroth-order modified Bessel function of the first kind, by its power series.
double besselI0(double x) {
    constexpr double precision = 1e-12;
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; term > precision * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

}  // namespace

std::optional<ResamplingRatio> resamplingRatio(uint32_t inputPairsPerSecond,
                                               uint32_t outputPairsPerSecond) {
    if (inputPairsPerSecond < outputPairsPerSecond || outputPairsPerSecond == 0) {
        return std::nullopt;
    }
    const uint32_t common = std::gcd(inputPairsPerSecond, outputPairsPerSecond);
    const ResamplingRatio ratio{outputPairsPerSecond / common, inputPairsPerSecond / common};
    if (ratio.interpolation > maxResamplerPhases) {
        return std::nullopt;
    }
    return ratio;
}

ResamplerDesign designResampler(uint32_t inputPairsPerSecond, uint32_t outputPairsPerSecond) {
    ResamplerDesign design;
    design.ratio = *resamplingRatio(inputPairsPerSecond, outputPairsPerSecond);
    const uint32_t phases = design.ratio.interpolation;
    if (phases == design.ratio.decimation) {
        return design;  // equal rates: nothing to filter
    }
    // The prototype runs at L times the input rate.
    const double upsampledRate = static_cast<double>(inputPairsPerSecond) * phases;
    const double passbandHz = passbandFraction * outputPairsPerSecond;
    const double stopbandHz = stopbandFraction * outputPairsPerSecond;
    const uint32_t length =
        kaiserLength(stopbandAttenuationDb, 2.0 * pi * (stopbandHz - passbandHz) / upsampledRate);
    design.tapsPerPhase = (length + phases - 1) / phases;
    const uint32_t total = design.tapsPerPhase * phases;

    const double cutoff = (passbandHz + stopbandHz) / 2.0 / upsampledRate;  // cycles per sample
    const double centre = (total - 1) / 2.0;
    const double beta = kaiserBeta(stopbandAttenuationDb);
    std::vector<double> prototype(total);
    double sum = 0.0;
    for (uint32_t n = 0; n < total; ++n) {
        const double t = n - centre;
        const double sinc =
            t == 0.0 ? 1.0 : std::sin(2.0 * pi * cutoff * t) / (2.0 * pi * cutoff * t);
        const double edge = t / (centre > 0.0 ? centre : 1.0);
        const double window =
            besselI0(beta * std::sqrt(std::max(0.0, 1.0 - edge * edge))) / besselI0(beta);
        prototype[n] = sinc * window;
        sum += prototype[n];
    }
    // Gain L overall, so that each phase, which sees one input in L, passes DC at unity.
    design.taps.resize(total);
    for (uint32_t p = 0; p < phases; ++p) {
        for (uint32_t j = 0; j < design.tapsPerPhase; ++j) {
            // Row p holds h[p + jL] for j = T-1 down to 0: the oldest input meets it first.
            const uint32_t source = p + (design.tapsPerPhase - 1 - j) * phases;
            design.taps[p * design.tapsPerPhase + j] =
                static_cast<float>(prototype[source] * phases / sum);
        }
    }
    return design;
}

void resetResampler(ResamplerState& state, const ResamplerDesign& design, uint32_t maxBlockPairs) {
    const uint32_t history = design.tapsPerPhase > 0 ? design.tapsPerPhase - 1 : 0;
    state.work.assign(2 * static_cast<std::size_t>(history + maxBlockPairs), 0.0f);
    state.phase = 0;
    state.skip = 0;
    state.maxBlockPairs = maxBlockPairs;
}

uint32_t maxResampledPairs(const ResamplerDesign& design, uint32_t pairs) {
    const uint64_t scaled = static_cast<uint64_t>(pairs) * design.ratio.interpolation;
    return static_cast<uint32_t>(scaled / design.ratio.decimation + 1);
}

uint32_t resampleBlock(const ResamplerDesign& design, ResamplerState& state, const float* in,
                       uint32_t pairs, float* out) {
    const uint32_t taps = design.tapsPerPhase;
    if (taps == 0) {
        std::memcpy(out, in, sizeof(float) * 2 * pairs);
        return pairs;
    }
    const uint32_t history = taps - 1;
    float* work = state.work.data();
    std::memcpy(work + 2 * history, in, sizeof(float) * 2 * pairs);
    const uint32_t phases = design.ratio.interpolation;
    const uint32_t step = design.ratio.decimation;
    uint32_t written = 0;
    uint32_t offset = state.skip;  // the next output's newest input, from the block's start
    uint32_t phase = state.phase;
    while (offset < pairs) {
        // The newest input is work pair history + offset; the filter reaches back T-1 from it.
        const float* x = work + 2 * static_cast<std::size_t>(offset);
        const float* h = design.taps.data() + static_cast<std::size_t>(phase) * taps;
        float sumI = 0.0f;
        float sumQ = 0.0f;
        for (uint32_t j = 0; j < taps; ++j) {
            sumI += h[j] * x[2 * j];
            sumQ += h[j] * x[2 * j + 1];
        }
        out[2 * written] = sumI;
        out[2 * written + 1] = sumQ;
        ++written;
        phase += step;
        offset += phase / phases;
        phase %= phases;
    }
    state.skip = offset - pairs;
    state.phase = phase;
    std::memmove(work, work + 2 * static_cast<std::size_t>(pairs), sizeof(float) * 2 * history);
    return written;
}

}  // namespace keelwave::sdr
