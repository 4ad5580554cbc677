#pragma once

#include <cstdint>

namespace keelwave::ais {

/// What a channel demodulator feeds: blocks of discriminator samples at 48000 samples per
/// second, 16384 standing for a phase step of pi radians per sample.
class SdrDecoder {
public:
    /// Decodes `count` samples (at most 8192; the channel always passes 4096).
    virtual void process(const int16_t* samples, int32_t count) = 0;
    virtual ~SdrDecoder() = default;
};

}  // namespace keelwave::ais
