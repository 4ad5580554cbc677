#include "tools/transmitter/burst_stream.hpp"

#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/burst_schedule.hpp"

#include <cmath>

namespace keelwave::transmitter {

namespace {

// The slot plan counts in tuner samples; the discriminator runs at a sixth of that rate.
constexpr double rawPerDiscriminator = static_cast<double>(rawRate) / discriminatorRate;

}  // namespace

double noiseRmsForSnr(double snrDb, double deviationHz) {
    return deviationHz * unitsPerHz / std::pow(10.0, snrDb / 20.0);
}

BurstStream renderBurstStream(const GmskPulse& pulse, const std::vector<Bits>& messages,
                              const StreamSettings& settings) {
    SlotPlan plan;
    plan.firstSlotSample = settings.leadSlots * slotSamples;
    plan.clockErrorPpm = settings.clockErrorPpm;
    const double perBit = samplesPerBit(settings.clockErrorPpm);

    std::vector<Bits> levels;
    BurstStream stream;
    for (std::size_t index = 0; index < messages.size(); ++index) {
        levels.push_back(nrziEncode(burstBits(messages[index])));
        const double offset = std::fmod(
            settings.firstOffsetSamples + static_cast<double>(index) * settings.offsetStepSamples,
            perBit);
        const double rawStart =
            placeBurst(plan, 'A', levels.back().size(), offset * rawPerDiscriminator);
        stream.burstStarts.push_back(rawStart / rawPerDiscriminator);
    }

    const std::int64_t slots = plan.nextSlotA + settings.leadSlots + settings.trailSlots;
    std::vector<double> frequency(static_cast<std::size_t>(slots * slotDiscriminatorSamples));
    DiscriminatorSettings burst;
    burst.deviationHz = settings.deviationHz;
    burst.clockErrorPpm = settings.clockErrorPpm;
    for (std::size_t index = 0; index < levels.size(); ++index) {
        burst.startSample = stream.burstStarts[index];
        addBurstFrequency(pulse, levels[index], burst, frequency);
        // The offset lasts as long as the carrier; between bursts there is none to be off.
        const auto first = static_cast<std::size_t>(std::ceil(burst.startSample));
        const double end = burst.startSample + static_cast<double>(levels[index].size()) * perBit;
        for (std::size_t n = first; static_cast<double>(n) < end; ++n) {
            frequency[n] += settings.carrierOffsetHz * unitsPerHz;
        }
    }
    GaussianNoise noise = makeGaussianNoise(settings.seed);
    stream.samples = quantizeDiscriminator(frequency, settings.noiseRms, noise);
    return stream;
}

}  // namespace keelwave::transmitter
