#pragma once

#include "ais/chain_names.hpp"
#include "ais/decoder_callbacks.hpp"
#include "ais/decoding_chain.hpp"
#include "base/tuner_stream.hpp"

#include <memory>

namespace keelwave::app {

/// What every chain of a run hands on, and to whom.
struct ChainOutputs {
    ais::MessageSink messages;
    ais::LevelCallback levelCallback = nullptr;  ///< called only with `verbose`
    void* levelContext = nullptr;
    bool verbose = false;
};

/// The chain of kind `kind` for the AIS channel `channel`.
std::unique_ptr<ais::DecodingChain> makeDecodingChain(ais::ChainKind kind,
                                                      const base::AisChannel& channel,
                                                      const ChainOutputs& outputs);

}  // namespace keelwave::app
