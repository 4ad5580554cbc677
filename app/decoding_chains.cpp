#include "app/decoding_chains.hpp"

#include "ais/classic/ais_decoder.hpp"
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
    auto decoder =
        std::make_unique<ais::AisDecoder>(channel.letter, outputs.verbose, outputs.messages,
                                          outputs.levelCallback, outputs.levelContext);
    decoder->frequency = channel.frequency;
    return std::make_unique<ais::ClassicChain>(channel.offsetHz, std::move(decoder));
}

}  // namespace keelwave::app
