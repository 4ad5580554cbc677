#pragma once

#include "ais/decoding_chain.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace keelwave::app {

/// The decoding chains `--decoder` chooses between: "classic" (the default), the channel
/// demodulator and AIS decoder the receiver was built with, and "sensitive", a coherent
/// receiver that hears bursts near the noise and far off frequency.
inline bool isDecodingChain(const std::string& name) {
    return name == "classic" || name == "sensitive";
}

/// The chain `name` for the AIS channel `letter` at `frequency` Hz, handing its sentences to
/// `sink`; `verbose` asks it for a level report once a second.
std::unique_ptr<ais::DecodingChain> makeDecodingChain(const std::string& name, char letter,
                                                      uint32_t frequency, bool verbose,
                                                      ais::SentenceSink sink);

}  // namespace keelwave::app
