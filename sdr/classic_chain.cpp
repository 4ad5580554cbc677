#include "sdr/classic_chain.hpp"

#include <utility>

ClassicChain::ClassicChain(int32_t frequency, uint32_t centreFrequency,
                           std::unique_ptr<SdrDecoder> channelDecoder)
    : decoder(std::move(channelDecoder)) {
    state.phaseIncrement = channelPhaseIncrement(frequency, centreFrequency);
}
