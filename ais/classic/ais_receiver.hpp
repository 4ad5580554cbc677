#pragma once

#include "ais/decoder_callbacks.hpp"
#include "ais/frame_decoder.hpp"

#include <cstdint>
#include <ctime>

namespace keelwave::ais {

/// Taps of the receive filter.
constexpr int32_t firTapCount = 36;
/// Entries of the filter's linear history (gain-scaled samples).
constexpr int32_t firHistorySize = 1024;
/// Most samples one processSamples call may take: the size of its stack work array.
constexpr int32_t maxBlockSamples = 8192;

/// Gaussian low-pass for 9600 bit/s at 48000 samples/s (5 samples per bit):
///   taps[k] = 2.5 * sqrt(2 pi / ln 2) * B * exp(-2 pi^2 B^2 (k - 17.5)^2 / ln 2),
/// B = 0.12 cycles per sample (BT = 0.6), rounded to 5 significant digits, symmetric about
/// the point between taps 17 and 18. Their sum, 2.5 (2.499996 as floats), is the DC gain.
constexpr float gaussianTaps[firTapCount] = {
    0.0f,        0.0f,        1.4714e-43f, 3.2462e-38f, 3.148e-33f,  1.3443e-28f,
    2.528e-24f,  2.0934e-20f, 7.6339e-17f, 1.2259e-13f, 8.669e-11f,  2.6996e-08f,
    3.702e-06f,  0.00022355f, 0.0059448f,  0.069616f,   0.35899f,    0.81522f,
    0.81522f,    0.35899f,    0.069616f,   0.0059448f,  0.00022355f, 3.702e-06f,
    2.6996e-08f, 8.669e-11f,  1.2259e-13f, 7.6339e-17f, 2.0934e-20f, 2.528e-24f,
    1.3443e-28f, 3.148e-33f,  3.2462e-38f, 1.4714e-43f, 0.0f,        0.0f,
};

/// The receive filter's history, filtered with gaussianTaps. The history is linear: the newest
/// firTapCount samples always lie directly below writeIndex, so each output is one contiguous
/// inner product; when writeIndex reaches the end, the last firTapCount entries move to the
/// bottom.
struct FirFilter {
    float history[firHistorySize] = {};  ///< Gain-scaled samples, discriminator units.
    uint32_t writeIndex = firTapCount;   ///< Slot of the next sample.
};

/// Bit-clock phase step per sample: 65536 phase units per bit, 5 samples per bit at 48000
/// samples/s and 9600 bit/s. 5 x 13107 = 65535 falls one unit short of a turn; the
/// level-change nudges absorb the drift.
constexpr uint32_t pllIncrementPerSample = 65536 / 5;
/// The software gain a receiver starts with, and goes back to when it runs away.
constexpr float gainStart = 1.0f;

/// One channel's front end: gain, filter, slicer, bit clock and NRZI, feeding its frame
/// decoder. Plain data, used by one thread: a value-initialised record with its channel and
/// callbacks set is ready to use.
struct AisReceiver {
    FirFilter filter;
    char channel = 'A';         ///< 'A' or 'B', passed to the level callback.
    uint32_t lastBitLevel = 0;  ///< Slicer level at the previous bit instant (NRZI reference).
    int32_t sampleStride = 1;   ///< Step between input samples used.
    int32_t sampleOffset = 0;   ///< Index of the first input sample used.
    uint32_t pllPhase = 0;      ///< Bit-clock phase, 65536 per bit; a bit is taken at wrap.
    uint32_t pllIncrement = pllIncrementPerSample;  ///< Phase step per sample.
    FrameDecoder frameDecoder;   ///< Sends its good frames to its own frame callback.
    uint32_t prevLevel = 0;      ///< Slicer level of the previous sample.
    int64_t samplesDecoded = 0;  ///< Samples through the bit clock so far.
    time_t lastReportTime = 0;   ///< Wall-clock seconds of the last level report.
    float gain = gainStart;      ///< Software gain applied to the input samples.
    uint32_t levelReports = 0;   ///< Nonzero: report level and gain at most once a second.
    LevelCallback levelCallback = nullptr;  ///< Receives level reports; may be null.
    void* levelContext = nullptr;           ///< First argument of levelCallback.
};

/// Decodes one block of `count` discriminator samples (48000 samples/s, 16384 = pi radians per
/// sample). Frames and a level report may be delivered inside the call. A count above
/// maxBlockSamples aborts the process before anything is read or changed.
void processSamples(AisReceiver* receiver, const int16_t* samples, int32_t count);

/// First pass of processSamples: scales each sample by the gain (clipped to 16 bits), stores
/// it in the history and writes the filter output to outputs[i]. Returns the largest scaled
/// value, or 0 when none is positive.
int16_t scaleAndFilter(AisReceiver* receiver, const int16_t* samples, int32_t count,
                       float* outputs);

/// Second pass: slices the filter outputs at zero, runs the bit clock and hands each
/// NRZI-decoded bit to the frame decoder. Each level change pulls the clock towards mid-bit:
/// half the way while the frame decoder looks for a training, by 1.25 % of a bit inside a
/// frame.
void recoverBits(AisReceiver* receiver, const float* outputs, int32_t count);

/// Third pass: steps the gain from the block's peak and, if `now` (seconds) is past the last
/// report, records it and reports level and new gain when reports are wanted.
void adjustGainAndReport(AisReceiver* receiver, int16_t peak, time_t now);

}  // namespace keelwave::ais
