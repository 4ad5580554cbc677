#pragma once

#include <cstdint>

namespace keelwave::ais {

/// What the channel demodulator feeds: blocks of discriminator samples at 48000 samples per
/// second, 16384 standing for a phase step of pi radians per sample.
class DiscriminatorDecoder {
public:
    virtual ~DiscriminatorDecoder() = default;
    /// Decodes `count` samples (at most 8192; the demodulator passes 4096, fewer only at the
    /// end of the input or before a gap).
    virtual void process(const int16_t* samples, int32_t count) = 0;
    /// The samples before the next ones were not followed by what was on the air: any frame in
    /// progress is dropped.
    virtual void restart() = 0;
};

}  // namespace keelwave::ais
