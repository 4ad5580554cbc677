#pragma once

#include <cstdint>

// One AIS channel out of the tuner's stream, at a sixth of its rate:
//
//   I/Q at 288000/s --> band-pass FIR at 24 kHz, one output --> x e^-j.phase
//   (tuner bytes - 128)  per 6 inputs (48000/s): taps h[k] e^(j v k)   0 Hz at the channel
//
// The band-pass is a low-pass prototype (Kaiser-windowed sinc, 42 taps, cut off at 23.5 kHz)
// turned up to v = 2 pi 24000 / 288000 radians per sample (down for channel A), the multiple
// of 24 kHz nearest the channel, and evaluated only at the outputs kept. It runs polyphase: the
// input is dealt into 6 rows by its position within each output's 6 samples, so that output m
// is the sum over rows p and taps q of h[6q + 5 - p] e^(j v (6q + 5 - p - c)) x_p[m - q], a sum
// that runs along m and so over several outputs at once. Because 6 v is half a turn, the tap's
// turn splits into (-1)^q, which joins the real prototype, and e^(j v (5 - p - c)), one turn per
// row, which the inputs take as they are dealt: each tap then costs two multiplications instead
// of the four of a complex one. Each output still carries the channel's offset, turned on by
// 6 w per output (w = 2 pi f / 288000 of the channel's own f), so a rotator stepping by -6 w
// brings the channel to 0 Hz.
//
// At 48000 samples/s the channel comes out at 5 samples per 9600 bit/s symbol. The prototype
// is flat to 0.1 dB up to 12 kHz, which leaves room for a GMSK signal (99 % of its power
// within +-5 kHz) 4 kHz or more off frequency, the channel lying 1 kHz from the band's centre.
// It is down by 49 dB at 36 kHz and by 63 dB from 37 kHz on (what folds into +-12 kHz at 48000
// samples/s), and by 70 dB over 40..60 kHz, where the other AIS channel lies: one 30 dB
// stronger still comes out 40 dB below this one.

namespace keelwave::ais {

/// The tuner's stream, complex samples per second.
constexpr double tunerRateHz = 288000.0;
/// Tuner samples per channel sample: 288000 down to 48000 per second.
constexpr int32_t channelDecimation = 6;
/// A channel's samples per second after decimation.
constexpr double channelRateHz = tunerRateHz / channelDecimation;
/// Taps of the channel filter, at the tuner's rate: 7 in each of the 6 rows.
constexpr int32_t channelFilterTaps = 42;
/// Taps of each polyphase row (the last ones past the prototype are 0).
constexpr int32_t rowTaps = (channelFilterTaps + channelDecimation - 1) / channelDecimation;
/// Most tuner samples (I/Q pairs) one filterChannel call takes.
constexpr int32_t filterChunkPairs = 4096;
/// Most channel samples one filterChannel call gives.
constexpr int32_t filterChunkOutputs = filterChunkPairs / channelDecimation + 1;
/// Outputs summed side by side by the AVX2 build, a register of eight floats for each of its
/// four sums (and that many entries of slack past the rows' end).
constexpr int32_t filterTile = 8;
/// Entries of each row: the taps' reach back, a chunk's outputs, the output being filled and
/// the tile's slack.
constexpr int32_t rowLength = rowTaps - 1 + filterChunkOutputs + 1 + filterTile;

/// Taps, input rows and output rotator of one channel.
struct ChannelFilter {
    float taps[channelDecimation][rowTaps];  ///< (-1)^q h[6q + 5 - p] of row p
    /// e^(j v (5 - p - c)) of row p, with which its inputs are turned as they are dealt.
    float rowTurnRe[channelDecimation];
    float rowTurnIm[channelDecimation];
    /// Input by row: entry rowTaps - 1 + i of row p is pair p of the chunk's output i; the
    /// entries before it are the outputs before the chunk.
    float rowsRe[channelDecimation][rowLength];
    float rowsIm[channelDecimation][rowLength];
    int32_t pairsSinceOutput;  ///< pairs of the next output already dealt, 0..5
    double rotatorRe;          ///< e^(-j 6 w m) for the next output m
    double rotatorIm;
    double stepRe;  ///< e^(-j 6 w): the rotator's turn per output
    double stepIm;
    /// e^(-j 6 w t): its turn per tile of t outputs, for the baseline build's tiles (index 0)
    /// and for the AVX2 build's (1).
    double tileStepRe[2];
    double tileStepIm[2];
    int32_t outputsSinceRenormalised;  ///< the rotator is set back to magnitude 1 now and then
    float tileTurnsRe[filterTile];     ///< e^(-j 6 w j): the rotator's turns within a tile
    float tileTurnsIm[filterTile];
    bool wide;  ///< run the AVX2 and FMA build of the filter loop
};

/// Designs the taps for a channel `channelOffsetHz` from the tuner's centre (-25000 for
/// channel A, +25000 for B) and empties the history.
void initChannelFilter(ChannelFilter& filter, double channelOffsetHz);

/// Filters `pairs` (at most filterChunkPairs) I/Q pairs, I first, and writes the real and
/// imaginary parts of the channel samples that fall due among them to `outputsRe` and
/// `outputsIm` (room for filterChunkOutputs + filterTile each), and their summed power to
/// `power`. Returns how many it wrote. The history carries over, so a stream cut anywhere
/// filters as one block.
int32_t filterChannel(ChannelFilter& filter, const float* samples, int32_t pairs, float* outputsRe,
                      float* outputsIm, float& power);

}  // namespace keelwave::ais
