#pragma once

#include "ais/classic/channel_demodulator.hpp"
#include "ais/classic/discriminator_decoder.hpp"
#include "ais/decoding_chain.hpp"

#include <cstdint>
#include <memory>

namespace keelwave::ais {

/// The chain the receiver was built with: the channel demodulator (oscillator,
/// integrate-and-dump by 6, FM discriminator) turns each raw block into 4096-sample blocks of
/// discriminator samples for a decoder of them (the AIS decoder).
class ClassicChain : public DecodingChain {
public:
    /// The channel `offsetHz` from the tuner's centre.
    ClassicChain(int32_t offsetHz, std::unique_ptr<DiscriminatorDecoder> decoder);

    void processBlock(const SampleBlock& block) override;
    /// Hands the partly filled last discriminator block to the decoder.
    void finish() override { flushBlock(state, *decoder); }

private:
    DemodulatorState state;
    const std::unique_ptr<DiscriminatorDecoder> decoder;
};

}  // namespace keelwave::ais
