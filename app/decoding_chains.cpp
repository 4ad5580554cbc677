#include "app/decoding_chains.hpp"

#include "ais/ais_decoder.hpp"
#include "ais/sensitive/sensitive_chain.hpp"
#include "sdr/classic_chain.hpp"
#include "sdr/sample_source.hpp"

namespace keelwave::app {

std::unique_ptr<ais::DecodingChain> makeDecodingChain(const std::string& name, char letter,
                                                      uint32_t frequency, bool verbose,
                                                      ais::SentenceSink sink) {
    if (name == "sensitive") {
        const double offsetHz = static_cast<double>(frequency) - sdr::tunerCentreFrequency;
        // reportLevel reads nothing of its context but that it is given one.
        return std::make_unique<ais::SensitiveChain>(letter, offsetHz, verbose, sink,
                                                     &ais::reportLevel, sink.context);
    }
    auto decoder = std::make_unique<ais::AisDecoder>(letter, verbose, sink);
    decoder->frequency = frequency;
    return std::make_unique<sdr::ClassicChain>(static_cast<int32_t>(frequency),
                                               sdr::tunerCentreFrequency, std::move(decoder));
}

}  // namespace keelwave::app
