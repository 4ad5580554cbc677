#pragma once

#include "ais/sensitive/burst_sync.hpp"
#include "ais/sensitive/iq.hpp"
#include "ais/sensitive/symbol_tracker.hpp"

#include <cstdint>

// One candidate's channel samples, copied out with the detector's frequency estimate turned
// back, about its instant: what the synchronisation and the tracking read. The copy is made
// as far as they read it, in runs of 16 samples whose turns are independent of each other, so
// a candidate that fails early costs little more than its preamble.

namespace keelwave::ais {

/// Channel samples a candidate needs before and after its instant: the preamble from
/// symbol 0, the longest frame, a symbol either side for the other training phase, the search
/// for the turns' own alignment and the matched filter's reach.
constexpr int32_t candidateLead =
    (lastKnownSymbol + 1) * samplesPerSymbol + turnsSearch + 2 + matchedFilterLead;
constexpr int32_t candidateLag =
    (burstSymbolCapacity - lastKnownSymbol + readingLookahead) * samplesPerSymbol + turnsSearch +
    2 + matchedFilterLag;
constexpr int32_t candidateSpan = candidateLead + candidateLag;
/// Samples turned back per step of the window's rotator.
constexpr int32_t rotatorRun = 16;

static_assert(turnsSearch + (lastKnownSymbol - firstKnownSymbol) * samplesPerSymbol < candidateLead,
              "the turns' alignment search stays within the candidate's samples");

/// The copied samples and the rotator that turns them.
struct BurstWindow {
    /// Entry i is channel sample first + i; entry candidateLead is the candidate's instant.
    float re[candidateSpan];
    float im[candidateSpan];
    int64_t first;
    int32_t filled;               ///< entries copied
    Iq rotator;                   ///< turn of the next run's first entry
    Iq rotatorSteps[rotatorRun];  ///< turns within a run
    Iq rotatorRunStep;            ///< turn from one run to the next
};

/// Starts a window for the candidate at channel sample `instant`, turning back `turnPerSymbol`
/// radians per symbol; nothing is copied yet.
void startBurstWindow(BurstWindow& window, int64_t instant, float turnPerSymbol);

/// Copies entries up to `end` (in whole runs, at most candidateSpan) from the channel samples
/// held: `re` and `im`, channel sample `heldFirst` at index 0, `heldCount` of them. Samples
/// not held read as 0.
void fillBurstWindow(BurstWindow& window, int32_t end, const float* re, const float* im,
                     int64_t heldFirst, int32_t heldCount);

}  // namespace keelwave::ais
