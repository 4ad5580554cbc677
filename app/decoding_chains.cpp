#include "app/decoding_chains.hpp"

#include "ais/classic/classic_chain.hpp"
#include "ais/sensitive/sensitive_chain.hpp"

namespace keelwave::app {

std::unique_ptr<ais::DecodingChain> makeDecodingChain(ais::ChainKind kind,
                                                      const base::AisChannel& channel,
                                                      const ChainOutputs& outputs) {
    switch (kind) {
        case ais::ChainKind::sensitive:
            return std::make_unique<ais::SensitiveChain>(
                channel.letter, channel.offsetHz, outputs.verbose, outputs.messages,
                outputs.levelCallback, outputs.levelContext);
        case ais::ChainKind::classic:
            break;
    }
    return std::make_unique<ais::ClassicChain>(channel.letter, channel.offsetHz, outputs.verbose,
                                               outputs.messages, outputs.levelCallback,
                                               outputs.levelContext);
}

}  // namespace keelwave::app
