#include "tools/transmitter/burst_schedule.hpp"

#include "tools/transmitter/discriminator_signal.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace keelwave::transmitter {

namespace {

// Past the last bit the Gaussian pulse still turns the phase for about two bits.
constexpr double pulseTailBits = 2.0;

}  // namespace

double rawSamplesPerBit(double clockErrorPpm) {
    return static_cast<double>(rawRate) / discriminatorRate * samplesPerBit(clockErrorPpm);
}

double burstEndSample(double startSample, std::size_t bitCount, double clockErrorPpm) {
    return startSample +
           (static_cast<double>(bitCount) + pulseTailBits) * rawSamplesPerBit(clockErrorPpm);
}

double placeBurst(SlotPlan& plan, char channel, std::size_t bitCount, double offsetSamples) {
    if (channel != 'A' && channel != 'B') {
        throw std::invalid_argument(std::string("channel must be A or B, got '") + channel + "'");
    }
    std::int64_t& nextSlot = channel == 'A' ? plan.nextSlotA : plan.nextSlotB;
    const double slotStart = static_cast<double>(plan.firstSlotSample + nextSlot * slotSamples);
    const double startSample = slotStart + offsetSamples;
    const double endSample = burstEndSample(startSample, bitCount, plan.clockErrorPpm);
    if (plan.endSample >= 0 && endSample > static_cast<double>(plan.endSample)) {
        return -1.0;
    }
    const auto slotsTaken =
        static_cast<std::int64_t>(std::ceil((endSample - slotStart) / slotSamples));
    nextSlot += std::max(plan.spacingSlots, slotsTaken);
    return startSample;
}

}  // namespace keelwave::transmitter
