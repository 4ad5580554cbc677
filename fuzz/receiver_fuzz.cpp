// The receiver front end (gain, filter, slicer, bit clock, NRZI, deframer) fed arbitrary
// discriminator samples in calls of arbitrary size.
//
// Input: a run of calls, each
//   int16 count (little-endian), then for a positive count that many int16 samples
//   (little-endian). A count above 8192, the most one call may take, is taken as 8192; the last
//   call gets the samples that are left. A count of 0 or less is passed on as it is, with no
//   samples (and a null pointer: such a call must not read any).
//
// Invariants: every sentence is well formed (SentenceChecker); after every call the gain, the
// bit clock, the filter and the deframer are in range; every level report is sane.

#include "ais/ais_receiver.hpp"
#include "fuzz/checked_receiver.hpp"
#include "fuzz/sentence_checker.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t sampleBytes = 2;

int16_t readInt16(const uint8_t* bytes) {
    return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | bytes[1] << 8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    char channel = 'A';
    SentenceChecker checker(channel);
    AisReceiver* receiver = createAisReceiver(channel, true, &SentenceChecker::check, &checker,
                                              &checkLevelReport, &channel);
    std::vector<int16_t> samples;
    std::size_t position = 0;
    while (position + sampleBytes <= size) {
        int32_t count = std::min<int32_t>(readInt16(data + position), maxBlockSamples);
        position += sampleBytes;
        if (count <= 0) {
            processSamples(receiver, nullptr, count);
            checkReceiverState(*receiver);
            continue;
        }
        count = std::min(count, static_cast<int32_t>((size - position) / sampleBytes));
        samples.resize(static_cast<std::size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            samples[static_cast<std::size_t>(i)] = readInt16(data + position);
            position += sampleBytes;
        }
        processSamples(receiver, samples.data(), count);
        checkReceiverState(*receiver);
    }
    checker.finish();
    destroyAisReceiver(receiver);
    return 0;
}
