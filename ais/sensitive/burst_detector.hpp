#pragma once

#include "ais/sensitive/gmsk_reference.hpp"

#include <cstdint>

// Finds where a burst's preamble may end, cheaply enough to run on every channel sample.
//
// What follows is said of the matched filter's output z; the same is done a second time with
// the channel's samples themselves in place of z (and their own reference turns), for
// carriers far enough off frequency to fall beside the matched filter.
//
// The matched-filter output z is taken at every sample; its turn over one symbol,
// w[n] = z[n] conj(z[n - 5]), at two of the five positions within each symbol, two samples
// apart, so that no instant lies more than 1.5 samples (0.3 symbols) from one where the
// detector looks; the timing search that follows (within 2 samples) finds the rest. Over a
// known preamble w follows the reference turns, only rotated by the carrier's frequency error
// (theta = 2 pi f T radians per symbol) and scaled by the power; the carrier's phase is gone.
// So at the instant n of the last known preamble symbol
//   C[n] = sum over known symbols k of w[n - 5 (30 - k)] conj(wref_k)
// peaks at |C| = sum |wref|^2 times the power, with arg C = theta. A transmitter with its
// levels the other way round sends the conjugate, whose turns are conj(wref); with weights
// split into real and imaginary parts, A = sum Re(wref) w and B = sum Im(wref) w, the two
// matches are A - jB and A + jB; the same again with the weights of a training sent with the
// alternation the other way round against the flag. At each of the two positions the turns form a
// sequence at the symbol rate, over which C is a 29-tap filter.
//
// The match is normalised by Cauchy-Schwarz to 0..1: |C|^2 / (sum |w|^2 sum |wref|^2). Noise
// alone gives about 1 / 29 on average; a burst at 2 dB signal to noise about 0.6. Once it
// crosses the threshold the best match is sought until 6 symbols have passed without a better
// one. The training repeats every 4 symbols and matches partly 4 and 8 symbols early; those
// smaller peaks thus lead on to the real one rather than standing for it. At most one
// candidate comes out per 30 samples however the signal looks.

namespace keelwave::ais {

/// Turns between known preamble symbols, and of them those within the training (up to its
/// last but one symbol); then come the training's last turn and the flag's.
constexpr int32_t knownTurns = knownSymbols - 1;
constexpr int32_t trainingTurns = trainingSymbols - 1 - (firstKnownSymbol + 1);
constexpr int32_t flagTurns = knownTurns - trainingTurns - 1;
/// Symbols after which the training's turns repeat: its levels go ++--.
constexpr int32_t turnPeriod = 4;
/// Positions within each symbol (sample index modulo 5) where the detector looks.
constexpr int32_t detectorPositions = 2;
constexpr int32_t detectorPosition[detectorPositions] = {0, 2};
/// Channel samples one detectBursts call evaluates at most, and the turns that gives each
/// position.
constexpr int32_t detectorBatch = 1024;
constexpr int32_t positionBatch = detectorBatch / samplesPerSymbol + 1;
/// Entries past a batch that the loops may fill (and whose results they drop): as many as
/// the AVX2 build works on side by side.
constexpr int32_t detectorBatchSlack = 8;
/// Samples without a better match after which the search for a candidate ends.
constexpr int32_t candidateWindow = 6 * samplesPerSymbol;

/// Where a preamble seems to end.
struct BurstCandidate {
    int64_t instant = 0;         ///< channel sample of the last known preamble symbol
    float turnPerSymbol = 0.0f;  ///< carrier frequency error, radians per symbol
    float match = 0.0f;          ///< normalised match, 0..1
    bool conjugate = false;      ///< the transmitter's levels are the other way round
    int32_t training = 0;        ///< phase of its training (GmskReference::preambles)
};

/// Ways a preamble may have been sent: the two phases of the training, each with the levels
/// as the reference's or the other way round (way = 2 * phase + reversed).
constexpr int32_t preambleWays = 2 * trainingPhases;

/// The turns at one position within the symbols, and their matches.
struct PositionTurns {
    float lastRe;  ///< the filter's output at this position one symbol back
    float lastIm;
    /// w and |w|^2: the knownTurns - 1 before the batch, then the batch's.
    float turnsRe[knownTurns - 1 + positionBatch + detectorBatchSlack];
    float turnsIm[knownTurns - 1 + positionBatch + detectorBatchSlack];
    float powers[knownTurns - 1 + positionBatch + detectorBatchSlack];
    int32_t count;  ///< turns of this batch
    /// Per way and per turn of the batch: the match (A - jB or A + jB of that phase's
    /// weights); and sum |w|^2, which the matches' powers are normalised by.
    float matchRe[preambleWays][positionBatch + detectorBatchSlack];
    float matchIm[preambleWays][positionBatch + detectorBatchSlack];
    float power[positionBatch + detectorBatchSlack];
    /// Per turn of the batch: the best way's power, weighed by its phase's 1 / sum |wref|^2,
    /// and the way.
    float bestPower[positionBatch + detectorBatchSlack];
    int32_t bestWay[positionBatch + detectorBatchSlack];
};

/// One way of looking at the turns: through the matched filter, or of the channel's samples as
/// they are, and the reference turns to match them with.
struct TurnPath {
    /// wref of the training's turns by class (turn index modulo turnPeriod), per phase.
    float classRe[trainingPhases][turnPeriod];
    float classIm[trainingPhases][turnPeriod];
    float edgeRe[trainingPhases];  ///< wref of the training's last turn, per phase
    float edgeIm[trainingPhases];
    float flagRe[flagTurns];  ///< wref of the flag's turns, the same in both phases
    float flagIm[flagTurns];
    float referencePower[trainingPhases];  ///< sum |wref_k|^2
    float inversePower[trainingPhases];    ///< 1 / sum |wref_k|^2
    PositionTurns positions[detectorPositions];
    bool lastTurnHot;  ///< the last batch's last turn at the first position matched at all
};

/// The detector's weights and histories.
struct BurstDetector {
    float outputsRe[detectorBatch + detectorBatchSlack];  ///< z of the batch
    float outputsIm[detectorBatch + detectorBatchSlack];
    /// The matched filter's turns: the most sensitive, but only for carriers within about
    /// 2 kHz of the channel, which the filter's 5 kHz width lets through whole.
    TurnPath matched;
    /// The samples' own turns: 8 dB less sensitive, but blind to the carrier's frequency
    /// within the channel filter's passband; heeded only for strong matches.
    TurnPath plain;
    int64_t nextSample;   ///< channel sample evaluated next
    bool searching;       ///< a match has crossed the threshold; the best is being sought
    int64_t searchEnd;    ///< first sample past the search
    BurstCandidate best;  ///< best match of the search so far (its turn still to come)
    Iq bestMatch;         ///< C of the best match, whose angle is the candidate's turn
    bool wide;            ///< run the AVX2 and FMA build of the batch loops
};

/// Takes the weights from `reference` and empties the histories; the first sample evaluated
/// is channel sample 0.
void initBurstDetector(BurstDetector& detector, const GmskReference& reference);

/// Evaluates the detector at channel samples nextSample up to `end` (exclusive; at most
/// detectorBatch of them). `re` and `im` hold channel sample `first` at index 0 and must
/// reach matchedFilterLead samples before nextSample and matchedFilterLag + detectorBatchSlack
/// samples past `end`. Writes the candidates whose search ended to `found` (room for
/// detectorBatch / candidateWindow + 1) and returns their number.
int32_t detectBursts(BurstDetector& detector, const GmskReference& reference, const float* re,
                     const float* im, int64_t first, int64_t end, BurstCandidate* found);

}  // namespace keelwave::ais
