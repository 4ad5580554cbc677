#include "app/decoding_chains.hpp"

#include "ais/ais_decoder.hpp"
#include "ais/sensitive/sensitive_chain.hpp"
#include "sdr/classic_chain.hpp"
#include "sdr/sample_source.hpp"

std::unique_ptr<keelwave::ais::DecodingChain> makeDecodingChain(const std::string& name,
                                                                char letter, uint32_t frequency,
                                                                bool verbose,
                                                                keelwave::ais::SentenceSink sink) {
    if (name == "sensitive") {
        const double offsetHz = static_cast<double>(frequency) - tunerCentreFrequency;
        // reportLevel reads nothing of its context but that it is given one.
        return std::make_unique<keelwave::ais::SensitiveChain>(letter, offsetHz, verbose, sink,
                                                               &reportLevel, sink.context);
    }
    auto decoder = std::make_unique<AisDecoder>(letter, verbose, sink);
    decoder->frequency = frequency;
    return std::make_unique<ClassicChain>(static_cast<int32_t>(frequency), tunerCentreFrequency,
                                          std::move(decoder));
}
