// The receiver front end (gain, filter, slicer, bit clock, NRZI, deframer) fed arbitrary
// discriminator samples in calls of arbitrary size.
//
// Input: a run of calls, each an int16 count (little-endian), then for a positive count that
// many int16 samples (little-endian). A count above 8192, the most one call takes, is taken as
// 8192; the last call gets the samples that are left. A count of 0 or less is passed on as it
// is, with no samples and a null pointer.
//
// Invariants: every sentence is well formed; after every call the receiver's state is in range;
// every level report is sane.
#include "fuzz/invariants.hpp"

#include <algorithm>
#include <memory>

using namespace keelwave::ais;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const auto frontEnd = std::make_unique<CheckedFrontEnd>('A');
    AisReceiver* receiver = &frontEnd->receiver;
    const auto next = [data](std::size_t at) {
        return static_cast<int16_t>(static_cast<uint16_t>(data[at] | data[at + 1] << 8));
    };
    std::vector<int16_t> samples;
    for (std::size_t at = 0; at + 2 <= size;) {
        int32_t count = std::min<int32_t>(next(at), maxBlockSamples);
        at += 2;
        count = std::min(count, static_cast<int32_t>((size - at) / 2));
        samples.clear();
        for (int32_t i = 0; i < count; ++i, at += 2) {
            samples.push_back(next(at));
        }
        processSamples(receiver, count > 0 ? samples.data() : nullptr, count);
        checkReceiverState(*receiver);
    }
    frontEnd->checker.finish();
    return 0;
}
