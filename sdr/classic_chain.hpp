#pragma once

#include "ais/decoding_chain.hpp"
#include "ais/sdr_decoder.hpp"
#include "sdr/channel_demodulator.hpp"

#include <cstdint>
#include <memory>

namespace keelwave::sdr {

/// The chain the receiver was built with: the channel demodulator (oscillator,
/// integrate-and-dump by 6, FM discriminator) turns each raw block into 4096-sample blocks of
/// discriminator samples for a decoder of them (the AIS decoder).
class ClassicChain : public ais::DecodingChain {
public:
    /// The channel at `frequency` Hz of a tuner centred on `centreFrequency` Hz.
    ClassicChain(int32_t frequency, uint32_t centreFrequency,
                 std::unique_ptr<ais::SdrDecoder> decoder);

    void processBlock(const float* samples, uint32_t count) override {
        demodulateBlock(state, samples, count, *decoder);
    }
    /// Hands the partly filled last discriminator block to the decoder.
    void finish() override { flushBlock(state, *decoder); }

private:
    DemodulatorState state;
    const std::unique_ptr<ais::SdrDecoder> decoder;
};

}  // namespace keelwave::sdr
