#include "ais/classic/classic_chain.hpp"

#include "base/tuner_stream.hpp"

#include <utility>

namespace keelwave::ais {

ClassicChain::ClassicChain(int32_t offsetHz, std::unique_ptr<DiscriminatorDecoder> channelDecoder)
    : decoder(std::move(channelDecoder)) {
    const auto frequency = static_cast<int32_t>(base::tunerCentreHz) + offsetHz;
    state.phaseIncrement = channelPhaseIncrement(frequency, base::tunerCentreHz);
}

void ClassicChain::processBlock(const SampleBlock& block) {
    if (block.afterGap) {
        restartAfterGap(state, *decoder);
    }
    demodulateBlock(state, block.samples, block.count, *decoder);
}

}  // namespace keelwave::ais
