#pragma once

#include "tools/transmitter/discriminator_signal.hpp"
#include "tools/transmitter/iq_recording.hpp"
#include "tools/transmitter/six_bit.hpp"

#include <cstdint>
#include <string>
#include <vector>

// Each function lays real messages out as one fuzz target reads its input (see the comment at
// the top of fuzz/<target>_fuzz.cpp), runs the seed through the decoding chain, throws unless
// exactly the sentences the transmitter model expects come out, and writes the seed.

/// Where seeds go: <directory>/<target>/<name>.
struct SeedWriter {
    std::string directory;

    void write(const std::string& target, const std::string& name,
               const std::vector<uint8_t>& bytes) const;
};

/// How a frame_decoder seed carries its messages.
enum class FrameLayout {
    packedBits,  ///< the decoded bits of their bursts, eight a byte
    bitPerByte,  ///< the decoded bits of their bursts, one a byte
    messages,    ///< the message bytes, each message after its length
};

/// frame_decoder: the messages as complete bursts, one after another. Those a receiver does
/// not print (impossible type, too long) must give nothing.
void writeFrameDecoderSeed(const SeedWriter& writer, const std::string& name,
                           const std::vector<const transmitter::Bits*>& messages,
                           FrameLayout layout, char channel);

/// receiver: the discriminator output of a burst on channel A, in calls of `counts` samples
/// taken in turn (a count of 0 or less takes none).
void writeReceiverSeed(const SeedWriter& writer, const std::string& name,
                       const transmitter::Bits& message,
                       const transmitter::DiscriminatorSettings& settings,
                       const std::vector<int32_t>& counts);

/// A burst in a tuner recording: its message and the tuner sample where its first bit begins.
struct ChannelBurst {
    const transmitter::Bits* message;
    double startSample;
};

/// demodulator: a tuner recording with a burst on channel A and one on B, given to the
/// demodulators in blocks of `blockLengths` + 1 floats taken in turn (empty: one block).
void writeDemodulatorSeed(const SeedWriter& writer, const std::string& name, ChannelBurst onA,
                          ChannelBurst onB, const transmitter::RecordingSettings& settings,
                          const std::vector<uint16_t>& blockLengths);

/// command_line and udp_address: each text as it is, named typical-1, typical-2, ...
void writeTextSeeds(const SeedWriter& writer, const std::string& target,
                    const std::vector<std::string>& texts);
