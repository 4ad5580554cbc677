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

/// The receive filter's taps and its history. The history is linear: the newest tapCount
/// samples always lie directly below writeIndex, so each output is one contiguous inner
/// product; when writeIndex reaches the end, the last tapCount entries move to the bottom.
struct FirFilter {
    int32_t tapCount;               ///< firTapCount.
    float* taps;                    ///< Owned copy of gaussianTaps.
    float history[firHistorySize];  ///< Gain-scaled samples, discriminator units.
    uint32_t writeIndex;            ///< Slot of the next sample; starts at tapCount.
};

/// One channel's front end: gain, filter, slicer, bit clock and NRZI, feeding its frame
/// decoder. Created by createAisReceiver, freed by destroyAisReceiver; used by one thread.
struct AisReceiver {
    FirFilter* filter;            ///< Owned.
    char channel;                 ///< 'A' or 'B', passed to the level callback.
    uint32_t lastBitLevel;        ///< Slicer level at the previous bit instant (NRZI reference).
    int32_t sampleStride;         ///< Step between input samples used: 1.
    int32_t sampleOffset;         ///< Index of the first input sample used: 0.
    uint32_t pllPhase;            ///< Bit-clock phase, 65536 per bit; a bit is taken at wrap.
    uint32_t pllIncrement;        ///< Phase step per sample: 65536 / 5 samples per bit.
    FrameDecoder* frameDecoder;   ///< Owned.
    uint32_t prevLevel;           ///< Slicer level of the previous sample.
    time_t lastReportTime;        ///< Wall-clock seconds of the last level report.
    float gain;                   ///< Software gain applied to the input samples.
    uint32_t levelReports;        ///< Nonzero: report level and gain at most once a second.
    LevelCallback levelCallback;  ///< Receives level reports; may be null.
    void* levelContext;           ///< First argument of levelCallback.
};

/// Builds a receiver for `channel` with its filter and frame decoder, gain 1.0, the bit clock
/// at phase 0. Sentences go to `sentenceCallback`, level reports (only when `levelReports`)
/// to `levelCallback`; either may be null. Ends the process with status 1 when memory is
/// exhausted.
AisReceiver* createAisReceiver(char channel, bool levelReports, SentenceCallback sentenceCallback,
                               void* sentenceContext, LevelCallback levelCallback,
                               void* levelContext);

/// Frees the taps, the filter, the frame decoder with its buffers, then the receiver. Null is
/// ignored.
void destroyAisReceiver(AisReceiver* receiver);

/// Decodes one block of `count` discriminator samples (48000 samples/s, 16384 = pi radians per
/// sample). Sentences and a level report may be delivered inside the call. A count above
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
