#pragma once

// Recordings for the sensitive chain's tests, made by the transmitter model, and the chain run
// over them as a channel thread runs it.

#include "ais/sensitive/sensitive_chain.hpp"
#include "tools/transmitter/gmsk_pulse.hpp"
#include "tools/transmitter/iq_recording.hpp"
#include "tools/transmitter/six_bit.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace keelwave::ais::test {

/// The tuner's stream as the chains take it (unsigned byte - 128, I first), and the sentences
/// a correct receiver prints for it, by channel, in order.
struct ChainInput {
    std::vector<float> samples;
    std::map<char, std::vector<std::string>> expected;
};

/// Real messages of every type from the test corpus, those a receiver prints, in corpus order.
std::vector<transmitter::Bits> corpusMessages(std::size_t count);

/// Each message as a burst in the next free slot of its channel: alternately A and B, or all
/// on `onlyChannel` when it is not 0; with `trainingFromOne`, the training alternates the other
/// way round against the start flag (1010...10), as some transmitters send it; the pulse has
/// `bandwidthTime`. Expected are the sentences of the printable messages.
ChainInput render(const std::vector<transmitter::Bits>& messages,
                  const transmitter::RecordingSettings& settings, char onlyChannel = 0,
                  bool trainingFromOne = false,
                  double bandwidthTime = transmitter::aisBandwidthTime);

/// The start of tests/data/long-beach-160-messages.wav (real discriminator audio) put back on
/// channel A's carrier, 2400 / 35 Hz per audio unit (its bursts' plateaus lie 35 units either
/// side of their mean).
std::vector<float> longBeachOnCarrier(double seconds);

/// A recording's samples as bytes would give them.
std::vector<float> fromBytes(const std::vector<std::uint8_t>& bytes);

/// What two sensitive chains, A and B, print for `samples` handed over `blockFloats` at a time
/// (then finished), by channel; and, when `counts` is given, what each did (A, then B).
std::map<char, std::vector<std::string>> decode(const std::vector<float>& samples,
                                                std::size_t blockFloats,
                                                ChainCounts* counts = nullptr);

}  // namespace keelwave::ais::test
