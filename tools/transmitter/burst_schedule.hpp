#pragma once

#include "tools/transmitter/six_bit.hpp"

#include <cstddef>
#include <cstdint>

namespace keelwave::transmitter {

/// The tuner's stream: 288000 complex samples per second around 162 MHz, channel A at
/// -25 kHz and channel B at +25 kHz.
constexpr std::int64_t rawRate = 288000;  // samples per second
constexpr double channelOffsetHz = 25000.0;
/// One AIS slot: a minute holds 2250 slots of 26.666... ms, 256 bits or 7680 raw samples.
constexpr std::int64_t slotSamples = 7680;
constexpr std::int64_t slotsPerMinute = 2250;

/// Raw samples per bit under a transmitter clock error in ppm (30 when exact).
double rawSamplesPerBit(double clockErrorPpm);

/// Slot bookkeeping: each channel has its own slots, so both channels can carry bursts at the
/// same time. A burst starts at a slot boundary (plus a timing offset below one bit) and takes
/// as many whole slots as it needs.
struct SlotPlan {
    std::int64_t firstSlotSample = 0;  ///< raw sample where slot 0 begins
    std::int64_t spacingSlots = 1;     ///< slots from one burst start to the next on a channel
    std::int64_t endSample = -1;       ///< no burst may reach beyond this; -1: no limit
    double clockErrorPpm = 0.0;
    std::int64_t nextSlotA = 0;  ///< first slot still free on channel A
    std::int64_t nextSlotB = 0;
};

/// Reserves the next free slots on `channel` ('A' or 'B') for a burst of `bitCount` bits that
/// begins `offsetSamples` (0 up to one bit) after its slot boundary. Returns the raw sample where
/// its first bit begins, or -1 (nothing reserved) when it would reach past `endSample`.
double placeBurst(SlotPlan& plan, char channel, std::size_t bitCount, double offsetSamples);

/// The last raw sample a burst placed at `startSample` reaches, its pulse tails included.
double burstEndSample(double startSample, std::size_t bitCount, double clockErrorPpm);

}  // namespace keelwave::transmitter
