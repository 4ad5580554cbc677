#include "tools/transmitter/alternating_bursts.hpp"

#include "tools/transmitter/ais_burst.hpp"

#include <algorithm>

namespace keelwave::transmitter {

AlternatingBursts layOutAlternately(const std::vector<Bits>& messages, SlotPlan& plan,
                                    const AlternatingLayout& layout) {
    AlternatingBursts laidOut;
    const double perBit = rawSamplesPerBit(plan.clockErrorPpm);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const char channel =
            layout.onlyChannel != 0 ? layout.onlyChannel : (i % 2 == 0 ? 'A' : 'B');
        Bits bits = burstBits(messages[i]);
        for (int bit = 0; layout.trainingFromOne && bit < trainingBits; ++bit) {
            bits[rampUpBits + bit] ^= 1;
        }
        const Bits levels = nrziEncode(bits);
        const double start =
            placeBurst(plan, channel, levels.size(), layout.bitFraction(i) * perBit);
        laidOut.bursts.push_back({levels, channel, start});
        laidOut.sent[channel].push_back(messages[i]);
        laidOut.endSample =
            std::max(laidOut.endSample, burstEndSample(start, levels.size(), plan.clockErrorPpm));
    }
    return laidOut;
}

}  // namespace keelwave::transmitter
