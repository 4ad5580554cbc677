#include "sdr/classic_chain.hpp"

#include <utility>

namespace keelwave::sdr {

ClassicChain::ClassicChain(int32_t frequency, uint32_t centreFrequency,
                           std::unique_ptr<ais::SdrDecoder> channelDecoder)
    : decoder(std::move(channelDecoder)) {
    state.phaseIncrement = channelPhaseIncrement(frequency, centreFrequency);
}

}  // namespace keelwave::sdr
