#pragma once

#include "ais/classic/ais_decoder.hpp"
#include "ais/classic/channel_demodulator.hpp"
#include "ais/decoder_callbacks.hpp"
#include "ais/decoding_chain.hpp"

#include <cstdint>

namespace keelwave::ais {

/// The chain the receiver was built with: the channel demodulator (oscillator,
/// integrate-and-dump by 6, FM discriminator) turns each raw block into 4096-sample blocks of
/// discriminator samples for the AIS decoder, which measures each burst from what the
/// demodulator recorded of it.
class ClassicChain : public DecodingChain {
public:
    /// The chain of `channel` ('A' or 'B'), `offsetHz` from the tuner's centre; messages go to
    /// `messages`, and with `verbose` a level report once a second to `levelCallback`.
    ClassicChain(char channel, int32_t offsetHz, bool verbose, MessageSink messages,
                 LevelCallback levelCallback, void* levelContext);

    void processBlock(const SampleBlock& block) override;
    /// Hands the partly filled last discriminator block to the decoder.
    void finish() override;

    AisDecoder& decoder() { return aisDecoder; }

private:
    DemodulatorState state;
    AisDecoder aisDecoder;
};

}  // namespace keelwave::ais
