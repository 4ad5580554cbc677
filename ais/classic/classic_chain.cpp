#include "ais/classic/classic_chain.hpp"

#include "base/tuner_stream.hpp"

namespace keelwave::ais {

ClassicChain::ClassicChain(char channel, int32_t offsetHz, bool verbose, MessageSink messages,
                           LevelCallback levelCallback, void* levelContext)
    : aisDecoder(channel, verbose, messages, levelCallback, levelContext, &state.meter) {
    const auto frequency = static_cast<int32_t>(base::tunerCentreHz) + offsetHz;
    state.phaseIncrement = channelPhaseIncrement(frequency, base::tunerCentreHz);
    state.meter.oscillatorErrorHz =
        static_cast<double>(state.phaseIncrement) / fullTurn * base::tunerPairsPerSecond - offsetHz;
    aisDecoder.frequency = static_cast<uint32_t>(frequency);
}

void ClassicChain::processBlock(const SampleBlock& block) {
    if (block.afterGap) {
        restartAfterGap(state, aisDecoder, block.firstPair);
    }
    demodulateBlock(state, block.samples, block.count, aisDecoder);
    countFailedFrames(aisDecoder.failedFrames());
}

void ClassicChain::finish() {
    flushBlock(state, aisDecoder);
    countFailedFrames(aisDecoder.failedFrames());
}

}  // namespace keelwave::ais
