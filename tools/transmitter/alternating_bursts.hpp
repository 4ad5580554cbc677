#pragma once

#include "tools/transmitter/burst_schedule.hpp"
#include "tools/transmitter/iq_recording.hpp"

#include <cstddef>
#include <functional>
#include <map>
#include <vector>

namespace keelwave::transmitter {

/// Bursts of a recording with both channels busy, and what each channel carries.
struct AlternatingBursts {
    std::vector<RecordedBurst> bursts;
    std::map<char, std::vector<Bits>> sent;  ///< each channel's messages, in the order sent
    double endSample = 0.0;                  ///< the last raw sample the bursts reach
};

/// How the messages are laid out.
struct AlternatingLayout {
    char onlyChannel = 0;  ///< 'A' or 'B': every message there; 0: alternately A, B, A...
    /// Where burst i begins after its slot boundary, in bits (0 up to 1): transmitters never
    /// hit the boundary exactly, and the receiver's sampling instants fall anywhere in a bit.
    std::function<double(std::size_t)> bitFraction = [](std::size_t) { return 0.0; };
    /// The training alternates the other way round against the start flag (1010...10), as
    /// some transmitters send it.
    bool trainingFromOne = false;
};

/// Each message as a complete burst in the next free slots of its channel in `plan`.
AlternatingBursts layOutAlternately(const std::vector<Bits>& messages, SlotPlan& plan,
                                    const AlternatingLayout& layout);

}  // namespace keelwave::transmitter
