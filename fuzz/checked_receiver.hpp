#pragma once

#include "ais/ais_receiver.hpp"
#include "ais/sdr_decoder.hpp"
#include "fuzz/sentence_checker.hpp"

#include <cstdint>
#include <vector>

/// Aborts unless the deframer's counters lie where its state machine keeps them (state 1..5,
/// at most 448 stored bits, flag count up to 7, ...).
void checkFrameDecoderState(const FrameDecoder& decoder);

/// Aborts unless the front end's state is sane after a call: a finite gain within the AGC's
/// bounds, the bit clock within one bit, the filter's write index inside its history, binary
/// levels, and a sane deframer.
void checkReceiverState(const AisReceiver& receiver);

/// A LevelCallback whose context points to the channel letter: aborts unless the report is for
/// that channel, the level a percentage of full scale and the gain within the AGC's bounds.
void checkLevelReport(void* context, int channel, float level, float gain);

/// A channel's decoder for the fuzz targets: an AisReceiver (level reports on) whose sentences
/// go through a SentenceChecker and whose state is checked after every block. It also keeps
/// every discriminator sample it was given, and aborts on a block that the demodulator should
/// never hand on: empty, longer than 4096, after a shorter one (only the last block, handed on
/// when the input has ended, may be short), or with samples beyond +-16384.
class CheckedReceiver : public SdrDecoder {
public:
    explicit CheckedReceiver(char channel);
    ~CheckedReceiver() override;
    CheckedReceiver(const CheckedReceiver&) = delete;
    CheckedReceiver& operator=(const CheckedReceiver&) = delete;

    void process(const int16_t* samples, int32_t count) override;

    char channel;
    SentenceChecker checker;
    AisReceiver* receiver;         ///< Owned.
    std::vector<int16_t> samples;  ///< Every sample handed on, in order.
    bool shortBlockSeen = false;   ///< A block of fewer than 4096 samples has come.
};
