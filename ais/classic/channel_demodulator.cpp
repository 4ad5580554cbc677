#include "ais/classic/channel_demodulator.hpp"

#include <cmath>

namespace keelwave::ais {

float channelPhaseIncrement(int32_t frequency, uint32_t centreFrequency) {
    const float offset = static_cast<float>(frequency) - static_cast<float>(centreFrequency);
    const float cyclesPerSample = offset * tunerSamplePeriod;
    return static_cast<float>(static_cast<double>(cyclesPerSample) * fullTurn);
}

namespace {

/// Closes one integrate-and-dump period: the mean of the 6 mixed samples, its phase step from
/// the previous mean, and that step as the next discriminator sample.
void dump(DemodulatorState& state, DiscriminatorDecoder& decoder) {
    state.decimationCount = 0;
    const double i = state.accumI * inverseDecimationFactor;
    const double q = state.accumQ * inverseDecimationFactor;
    // z[n] times conj(z[n-1]); its argument is the phase step between the two.
    const double re = state.prevI * i + state.prevQ * q;
    const double im = state.prevI * q - state.prevQ * i;
    const double step = std::atan2(im, re) * discriminatorScale;
    // |step| <= 16384, so the truncation toward zero always fits.
    state.block[state.blockFill] = static_cast<int16_t>(step);
    recordSample(state.meter, static_cast<float>(i * i + q * q), state.block[state.blockFill]);
    ++state.blockFill;
    state.prevI = i;
    state.prevQ = q;
    state.accumI = 0.0f;
    state.accumQ = 0.0f;
    if (state.blockFill == discriminatorBlockLength) {
        decoder.process(state.block, static_cast<int32_t>(discriminatorBlockLength));
        state.blockFill = 0;
    }
}

}  // namespace

void demodulateBlock(DemodulatorState& state, const float* samples, uint32_t count,
                     DiscriminatorDecoder& decoder) {
    for (uint32_t n = 0; n + 1 < count; n += 2) {
        const float i = samples[n];
        const float q = samples[n + 1];
        advanceOscillator(state.phase, state.phaseIncrement);
        const float s = std::sin(state.phase);
        const float c = std::cos(state.phase);
        // Mixing with e^(-j.phase): (i + jq)(c - js) = (ic + qs) + j(qc - is).
        state.accumI = (i * c + q * s) + state.accumI;
        state.accumQ = (q * c + state.accumQ) - i * s;
        if (++state.decimationCount < decimationFactor) {
            continue;
        }
        dump(state, decoder);
    }
}

void flushBlock(DemodulatorState& state, DiscriminatorDecoder& decoder) {
    if (state.blockFill == 0) {
        return;
    }
    decoder.process(state.block, static_cast<int32_t>(state.blockFill));
    state.blockFill = 0;
}

void restartAfterGap(DemodulatorState& state, DiscriminatorDecoder& decoder, int64_t firstPair) {
    flushBlock(state, decoder);
    decoder.restart();
    restartMeter(state.meter, firstPair);
    state.accumI = 0.0f;
    state.accumQ = 0.0f;
    state.decimationCount = 0;
}

}  // namespace keelwave::ais
