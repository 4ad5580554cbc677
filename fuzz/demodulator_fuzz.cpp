// Both channel demodulators, each feeding a whole receiver chain, fed arbitrary tuner bytes cut
// into blocks at arbitrary points, odd ones included.
//
// Input:
//   byte 0          n = byte % 16, the number of block lengths that follow (0: one block)
//   n x uint16      block lengths minus one, in floats (little-endian), used in turn, cycling
//   the rest        unsigned 8-bit I/Q from the tuner, I first; each byte becomes byte - 128
//
// Invariants: those of the receiver chain behind each channel; blocks of exactly 4096 samples
// within +-16384 until the stream ends and one shorter block after it; and cutting the stream
// changes nothing: an odd block loses its last float and the next starts again with I, so the
// blocks give the discriminator samples of one block of the pairs they carry, one per 6 pairs,
// all handed on once the stream has ended.
#include "ais/classic/channel_demodulator.hpp"
#include "fuzz/invariants.hpp"

#include <algorithm>
#include <memory>

using namespace keelwave::ais;

namespace {

DemodulatorState channelState(int32_t frequency) {
    DemodulatorState state;
    state.phaseIncrement = channelPhaseIncrement(frequency, 162000000);
    return state;
}

/// Keeps every sample handed on; with a letter, also checks the blocks and decodes them.
struct CheckedChannel : DiscriminatorDecoder {
    explicit CheckedChannel(char letter = 0)
        : channel(letter), frontEnd(letter == 0 ? nullptr : new CheckedFrontEnd(letter)) {}
    void process(const int16_t* block, int32_t count) override {
        const bool inRange = std::all_of(block, block + count, [](int16_t sample) {
            return sample >= -16384 && sample <= 16384;  // a phase step of pi at most
        });
        if (count <= 0 || count > 4096 || shortBlockSeen || !inRange) {
            invariantBroken("a block of " + std::to_string(count) + " samples, or out of range");
        }
        shortBlockSeen = count < 4096;
        samples.insert(samples.end(), block, block + count);
        if (frontEnd) {
            processSamples(&frontEnd->receiver, block, count);
            checkReceiverState(frontEnd->receiver);
        }
    }
    void restart() override { invariantBroken("a restart where the stream has no gap"); }
    char channel;
    std::unique_ptr<CheckedFrontEnd> frontEnd;
    std::vector<int16_t> samples;
    bool shortBlockSeen = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::size_t at = 1;
    std::vector<uint32_t> lengths;
    for (std::size_t i = 0; i < data[0] % 16u && at + 2 <= size; ++i, at += 2) {
        lengths.push_back((data[at] | data[at + 1] << 8) + 1u);
    }
    std::vector<float> stream;
    for (; at < size; ++at) {
        stream.push_back(static_cast<float>(data[at]) - 128.0f);
    }
    if (lengths.empty()) {
        lengths.push_back(static_cast<uint32_t>(stream.size()));
    }
    const int32_t frequencies[] = {161975000, 162025000};
    DemodulatorState states[] = {channelState(frequencies[0]), channelState(frequencies[1])};
    CheckedChannel chains[] = {CheckedChannel('A'), CheckedChannel('B')};
    std::vector<float> carried;  // the pairs the blocks carry, as one stream
    for (std::size_t offset = 0, turn = 0; offset < stream.size(); ++turn) {
        const auto length = static_cast<uint32_t>(
            std::min<std::size_t>(lengths[turn % lengths.size()], stream.size() - offset));
        for (std::size_t i = 0; i < 2; ++i) {
            demodulateBlock(states[i], stream.data() + offset, length, chains[i]);
        }
        carried.insert(carried.end(), stream.begin() + static_cast<long>(offset),
                       stream.begin() + static_cast<long>(offset + length / 2 * 2));
        offset += length;
    }
    for (std::size_t i = 0; i < 2; ++i) {
        flushBlock(states[i], chains[i]);
        chains[i].frontEnd->checker.finish();
        DemodulatorState wholeState = channelState(frequencies[i]);
        CheckedChannel whole;
        demodulateBlock(wholeState, carried.data(), static_cast<uint32_t>(carried.size()), whole);
        flushBlock(wholeState, whole);
        if (chains[i].samples != whole.samples || whole.samples.size() != carried.size() / 12) {
            invariantBroken(std::string("cut blocks changed the output of ") + chains[i].channel);
        }
    }
    return 0;
}
