// Both channel demodulators, each feeding a whole receiver chain, fed arbitrary tuner bytes cut
// into blocks at arbitrary points, odd ones included.
//
// Input:
//   byte 0          n = byte % 16, the number of block lengths that follow (0: one block)
//   n x uint16      block lengths minus one, in floats (little-endian), used in turn, cycling
//   the rest        unsigned 8-bit I/Q from the tuner, I first; each byte becomes byte - 128
//
// Invariants: besides every sentence, level report and state of the receiver chain
// (CheckedReceiver), cutting the stream must not change the output. A block of odd length
// loses its last float and the next block starts again with I, so the blocks must give the
// same discriminator samples (and so the same sentences) as one block of all the pairs they
// carry. Every 6 pairs give one discriminator sample, handed on in blocks of exactly 4096
// while the stream lasts and in one shorter block once it has ended (flushBlock).

#include "fuzz/checked_receiver.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/sentence_checker.hpp"
#include "sdr/channel_demodulator.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr uint32_t tunerCentreFrequency = 162000000;  // Hz
constexpr int32_t channelFrequencyA = 161975000;      // Hz
constexpr int32_t channelFrequencyB = 162025000;      // Hz
constexpr std::size_t maxBlockLengths = 16;
constexpr float sampleMidpoint = 128.0f;  // Tuner bytes are unsigned around 128.

DemodulatorState channelState(int32_t frequency) {
    DemodulatorState state;
    state.phaseIncrement = channelPhaseIncrement(frequency, tunerCentreFrequency);
    return state;
}

/// Keeps the discriminator samples of the uncut stream. The receiver chain behind it would
/// only repeat the checked one's work: equal samples make equal sentences.
struct SampleCollector : SdrDecoder {
    std::vector<int16_t> samples;

    void process(const int16_t* block, int32_t count) override {
        samples.insert(samples.end(), block, block + count);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t lengthCount = data[0] % maxBlockLengths;
    std::size_t position = 1;
    std::vector<uint32_t> lengths;
    for (std::size_t i = 0; i < lengthCount && position + 2 <= size; ++i, position += 2) {
        lengths.push_back((data[position] | data[position + 1] << 8) + 1u);
    }
    std::vector<float> stream;
    stream.reserve(size - position);
    for (; position < size; ++position) {
        stream.push_back(static_cast<float>(data[position]) - sampleMidpoint);
    }
    if (lengths.empty()) {
        lengths.push_back(static_cast<uint32_t>(stream.size()));
    }

    const int32_t frequencies[] = {channelFrequencyA, channelFrequencyB};
    DemodulatorState cutStates[] = {channelState(frequencies[0]), channelState(frequencies[1])};
    CheckedReceiver cutChains[] = {CheckedReceiver('A'), CheckedReceiver('B')};
    std::vector<float> carried;  // the pairs the cut blocks carry, as one stream
    carried.reserve(stream.size());
    for (std::size_t offset = 0, turn = 0; offset < stream.size(); ++turn) {
        const auto length = static_cast<uint32_t>(
            std::min<std::size_t>(lengths[turn % lengths.size()], stream.size() - offset));
        for (std::size_t i = 0; i < 2; ++i) {
            demodulateBlock(cutStates[i], stream.data() + offset, length, cutChains[i]);
        }
        carried.insert(carried.end(), stream.begin() + static_cast<long>(offset),
                       stream.begin() + static_cast<long>(offset + length / 2 * 2));
        offset += length;
    }
    for (std::size_t i = 0; i < 2; ++i) {
        flushBlock(cutStates[i], cutChains[i]);
        cutChains[i].checker.finish();
        // Every 6 pairs make one discriminator sample; after the flush all have been handed on.
        if (cutChains[i].samples.size() != carried.size() / 2 / decimationFactor) {
            invariantBroken(std::string("samples lost or invented on ") + cutChains[i].channel);
        }
        DemodulatorState wholeState = channelState(frequencies[i]);
        SampleCollector whole;
        demodulateBlock(wholeState, carried.data(), static_cast<uint32_t>(carried.size()), whole);
        flushBlock(wholeState, whole);
        if (cutChains[i].samples != whole.samples) {
            invariantBroken(std::string("cutting the stream changed the discriminator output of ") +
                            cutChains[i].channel);
        }
    }
    return 0;
}
