#include "tests/ais/sensitive/chain_recording.hpp"

#include "ais/sensitive/sensitive_chain.hpp"
#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/burst_schedule.hpp"
#include "tools/transmitter/burst_stream.hpp"
#include "tools/transmitter/discriminator_signal.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/gmsk_pulse.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>

namespace keelwave::ais::test {

namespace {

constexpr double leadingSeconds = 0.05;   // noise before the first slot
constexpr double trailingSeconds = 0.05;  // and after the last burst
constexpr float byteMidpoint = 128.0f;
// Burst starts spread over a bit (as transmitters are), the same for every run.
constexpr double bitFractionStep = 0.618034;

void collect(void* context, const char* sentence) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(sentence);
}

// Audio (instantaneous frequency, Hz, at 48000 samples/s) as channel A's carrier: its running
// sum is the phase, each sample's frequency held over the six tuner samples it spans.
std::vector<float> onCarrier(const std::vector<double>& audioHz) {
    constexpr double pi = 3.14159265358979323846;
    constexpr int tunerSamplesPerAudio = 6;
    constexpr double channelHz = -25000.0;
    constexpr double amplitude = 50.0;  // 8-bit steps
    std::vector<float> samples;
    double phase = 0.0;
    for (const double hz : audioHz) {
        const double step = 2.0 * pi * (hz + channelHz) / transmitter::rawRate;
        for (int i = 0; i < tunerSamplesPerAudio; ++i) {
            phase = std::remainder(phase + step, 2.0 * pi);
            samples.push_back(static_cast<float>(std::round(amplitude * std::cos(phase))));
            samples.push_back(static_cast<float>(std::round(amplitude * std::sin(phase))));
        }
    }
    return samples;
}

}  // namespace

std::vector<transmitter::Bits> corpusMessages(std::size_t count) {
    std::ifstream file(PROJECT_DIR "/tests/data/real-aivdm-sample.nmea");
    std::vector<transmitter::Bits> messages;
    for (const transmitter::AisMessage& message : transmitter::readNmeaMessages(file).messages) {
        if (messages.size() < count &&
            transmitter::receiverVerdict(message.bits) == transmitter::MessageVerdict::printed) {
            messages.push_back(message.bits);
        }
    }
    return messages;
}

ChainInput render(const std::vector<transmitter::Bits>& messages,
                  const transmitter::RecordingSettings& settings, char onlyChannel,
                  bool trainingFromOne) {
    ChainInput input;
    transmitter::SlotPlan plan;
    plan.firstSlotSample = std::llround(leadingSeconds * transmitter::rawRate);
    plan.clockErrorPpm = settings.clockErrorPpm;
    transmitter::SequenceCounters counters;
    std::vector<transmitter::RecordedBurst> bursts;
    double end = 0.0;
    double fraction = 0.0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const char channel = onlyChannel != 0 ? onlyChannel : (i % 2 == 0 ? 'A' : 'B');
        transmitter::Bits bits = transmitter::burstBits(messages[i]);
        for (int bit = 0; trainingFromOne && bit < transmitter::trainingBits; ++bit) {
            bits[transmitter::rampUpBits + bit] ^= 1;
        }
        const transmitter::Bits levels = transmitter::nrziEncode(bits);
        fraction = std::fmod(fraction + bitFractionStep, 1.0);
        const double start = transmitter::placeBurst(
            plan, channel, levels.size(),
            fraction * transmitter::rawSamplesPerBit(settings.clockErrorPpm));
        bursts.push_back({levels, channel, start});
        end = std::max(end,
                       transmitter::burstEndSample(start, levels.size(), settings.clockErrorPpm));
        if (transmitter::receiverVerdict(messages[i]) == transmitter::MessageVerdict::printed) {
            for (const std::string& sentence :
                 transmitter::expectedSentences(messages[i], channel, counters)) {
                input.expected[channel].push_back(sentence);
            }
        }
    }
    const auto total = static_cast<std::int64_t>(end + trailingSeconds * transmitter::rawRate);
    std::ostringstream out;
    transmitter::writeRecording(bursts, total, settings, transmitter::makeGmskPulse(), out);
    const std::string bytes = out.str();
    input.samples = fromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    return input;
}

ChainInput renderThroughAudio(const std::vector<transmitter::Bits>& messages, double highPassHz) {
    constexpr double pi = 3.14159265358979323846;
    transmitter::StreamSettings settings;
    settings.offsetStepSamples = bitFractionStep * transmitter::samplesPerBit(0.0);
    const transmitter::BurstStream stream =
        transmitter::renderBurstStream(transmitter::makeGmskPulse(), messages, settings);
    ChainInput input;
    transmitter::SequenceCounters counters;
    for (const transmitter::Bits& message : messages) {
        for (const std::string& sentence : transmitter::expectedSentences(message, 'A', counters)) {
            input.expected['A'].push_back(sentence);
        }
    }
    // One-pole high-pass on the audio.
    const double keep = std::exp(-2.0 * pi * highPassHz / transmitter::discriminatorRate);
    double lastIn = 0.0;
    double lastOut = 0.0;
    std::vector<double> audioHz;
    for (const std::int16_t sample : stream.samples) {
        const double hz = sample / transmitter::unitsPerHz;
        lastOut = keep * (lastOut + hz - lastIn);
        lastIn = hz;
        audioHz.push_back(lastOut);
    }
    input.samples = onCarrier(audioHz);
    return input;
}

std::vector<float> longBeachOnCarrier(double seconds) {
    constexpr double hzPerUnit = 2400.0 / 35.0;
    constexpr int wavHeaderBytes = 44;  // RIFF, fmt and data chunk headers of a plain WAV
    std::ifstream file(PROJECT_DIR "/tests/data/long-beach-160-messages.wav", std::ios::binary);
    std::vector<char> bytes(
        static_cast<std::size_t>(wavHeaderBytes + seconds * transmitter::discriminatorRate));
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::vector<double> audioHz;
    for (std::size_t i = wavHeaderBytes; i < bytes.size(); ++i) {
        audioHz.push_back(hzPerUnit * (static_cast<unsigned char>(bytes[i]) - byteMidpoint));
    }
    return onCarrier(audioHz);
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
        chains[c] = std::make_unique<SensitiveChain>(letters[c], offsetsHz[c], false,
                                                     SentenceSink{&collect, &printed[letters[c]]},
                                                     nullptr, nullptr);
    }
    for (std::size_t start = 0; start < samples.size(); start += blockFloats) {
        const auto count = static_cast<uint32_t>(std::min(blockFloats, samples.size() - start));
        for (auto& chain : chains) {
            chain->processBlock(samples.data() + start, count);
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
