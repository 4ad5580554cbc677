#pragma once

// The loops that run on every sample or every candidate burst (the channel filter, the burst
// detector, the preamble's synchronisation, the burst window's copy and the nominal reading)
// are built twice: for the x86-64 baseline (SSE2), and for processors with AVX2 and FMA (x86-64
// processors of the last decade), on which they run up to three times as fast. Which build runs
// is decided once per chain, from what the processor says it supports.

namespace keelwave::ais {

/// True when this processor runs the AVX2 and FMA builds of the inner loops and they are
/// allowed; always false off x86-64.
bool hasWideVectors();

/// Allows the wide builds (the default) or not, for every chain built from then on: the tests
/// also run the baseline loops, the only ones a processor without AVX2 (a Raspberry Pi) has.
void allowWideVectors(bool allowed);

}  // namespace keelwave::ais
