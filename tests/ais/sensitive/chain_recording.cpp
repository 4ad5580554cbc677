#include "tests/ais/sensitive/chain_recording.hpp"

#include "ais/sensitive/sensitive_chain.hpp"
#include "tests/support/corpus.hpp"
#include "tools/transmitter/alternating_bursts.hpp"
#include "tools/transmitter/discriminator_signal.hpp"
#include "tools/transmitter/fm_recording.hpp"
#include "tools/transmitter/gmsk_pulse.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

namespace keelwave::ais::test {

namespace {

constexpr double leadingSeconds = 0.05;   // noise before the first slot
constexpr double trailingSeconds = 0.05;  // and after the last burst
constexpr float byteMidpoint = 128.0f;
// Burst starts spread over a bit (as transmitters are), the same for every run.
constexpr double bitFractionStep = 0.618034;

}  // namespace

std::vector<transmitter::Bits> corpusMessages(std::size_t count) {
    std::vector<transmitter::Bits> messages;
    for (const transmitter::Bits& message : keelwave::test::corpus()) {
        if (messages.size() < count &&
            transmitter::receiverVerdict(message) == transmitter::MessageVerdict::printed) {
            messages.push_back(message);
        }
    }
    return messages;
}

ChainInput render(const std::vector<transmitter::Bits>& messages,
                  const transmitter::RecordingSettings& settings, char onlyChannel,
                  bool trainingFromOne, double bandwidthTime) {
    transmitter::SlotPlan plan;
    plan.firstSlotSample = std::llround(leadingSeconds * transmitter::rawRate);
    plan.clockErrorPpm = settings.clockErrorPpm;
    transmitter::AlternatingLayout layout{
        onlyChannel,
        [](std::size_t i) { return std::fmod(static_cast<double>(i + 1) * bitFractionStep, 1.0); },
        trainingFromOne};
    const auto laidOut = transmitter::layOutAlternately(messages, plan, layout);
    ChainInput input;
    for (const auto& [channel, sent] : laidOut.sent) {
        input.expected[channel] = keelwave::test::expectedFor(sent, channel);
    }
    const auto total =
        static_cast<std::int64_t>(laidOut.endSample + trailingSeconds * transmitter::rawRate);
    std::ostringstream out;
    transmitter::writeRecording(laidOut.bursts, total, settings,
                                transmitter::makeGmskPulse(bandwidthTime), out);
    const std::string bytes = out.str();
    input.samples = fromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    return input;
}

std::vector<float> longBeachOnCarrier(double seconds) {
    transmitter::Audio audio =
        transmitter::readWavAudio(PROJECT_DIR "/tests/data/long-beach-160-messages.wav");
    audio.samples.resize(static_cast<std::size_t>(seconds * audio.rateHz));
    std::ostringstream out;
    transmitter::writeFmRecording(audio, {2400.0 / 35.0, -25000.0, 50.0}, out);
    const std::string bytes = out.str();
    return fromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<float> fromBytes(const std::vector<std::uint8_t>& bytes) {
    std::vector<float> samples(bytes.size());
    std::transform(bytes.begin(), bytes.end(), samples.begin(),
                   [](std::uint8_t byte) { return static_cast<float>(byte) - byteMidpoint; });
    return samples;
}

std::map<char, std::vector<std::string>> decode(const std::vector<float>& samples,
                                                std::size_t blockFloats, ChainCounts* counts) {
    std::map<char, std::vector<std::string>> printed;
    std::unique_ptr<SensitiveChain> chains[2];
    const char letters[2] = {'A', 'B'};
    const double offsetsHz[2] = {-25000.0, 25000.0};
    for (int c = 0; c < 2; ++c) {
        chains[c] = std::make_unique<SensitiveChain>(
            letters[c], offsetsHz[c], false, keelwave::test::sentencesInto(printed[letters[c]]),
            nullptr, nullptr);
    }
    for (std::size_t start = 0; start < samples.size(); start += blockFloats) {
        const auto count = static_cast<uint32_t>(std::min(blockFloats, samples.size() - start));
        for (auto& chain : chains) {
            chain->processBlock({samples.data() + start, count, static_cast<int64_t>(start / 2)});
        }
    }
    for (int c = 0; c < 2; ++c) {
        chains[c]->finish();
        if (counts != nullptr) {
            counts[c] = chains[c]->counts();
        }
    }
    return printed;
}

}  // namespace keelwave::ais::test
