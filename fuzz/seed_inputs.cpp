#include "fuzz/seed_inputs.hpp"

#include "ais/ais_receiver.hpp"
#include "ais/frame_decoder.hpp"
#include "fuzz/checked_receiver.hpp"
#include "fuzz/sentence_checker.hpp"
#include "sdr/channel_demodulator.hpp"
#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/burst_schedule.hpp"
#include "tools/transmitter/expected_sentences.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

using namespace transmitter;

namespace {

using Bytes = std::vector<uint8_t>;
using Sentences = std::vector<std::string>;

constexpr int bitsPerByte = 8;
constexpr int32_t maxCall = 8192;                     // samples per processSamples call
constexpr std::size_t filterFlushSamples = 60;        // past the filter's 36 taps and a bit
constexpr uint32_t tunerCentreFrequency = 162000000;  // Hz
constexpr int32_t channelFrequencyA = 161975000;      // Hz
constexpr int32_t channelFrequencyB = 162025000;      // Hz
constexpr std::int64_t recordingGuard = 900;          // tuner samples after the last burst
constexpr float sampleMidpoint = 128.0f;              // tuner bytes are unsigned around 128

void expectSentences(const std::string& seed, const Sentences& got, const Sentences& expected) {
    if (got != expected) {
        std::ostringstream text;
        text << seed << ": " << got.size() << " sentences decoded, expected " << expected.size();
        for (const std::string& sentence : expected) {
            text << "\n  expected " << sentence;
        }
        for (const std::string& sentence : got) {
            text << "\n  got      " << sentence;
        }
        throw std::runtime_error(text.str());
    }
}

Sentences expectedFor(const std::vector<const Bits*>& messages, char channel) {
    SequenceCounters counters;
    Sentences sentences;
    for (const Bits* message : messages) {
        if (receiverVerdict(*message) != MessageVerdict::printed) {
            continue;
        }
        for (const std::string& sentence : expectedSentences(*message, channel, counters)) {
            sentences.push_back(sentence);
        }
    }
    return sentences;
}

void appendInt16(Bytes& bytes, int32_t value) {
    bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

struct ChannelChain {
    DemodulatorState state;
    CheckedReceiver decoder;
    ChannelChain(int32_t frequency, char channel) : decoder(channel) {
        state.phaseIncrement = channelPhaseIncrement(frequency, tunerCentreFrequency);
    }
};

}  // namespace

void SeedWriter::write(const std::string& target, const std::string& name,
                       const std::vector<uint8_t>& bytes) const {
    std::filesystem::create_directories(directory + "/" + target);
    std::ofstream out(directory + "/" + target + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + target + "/" + name);
    }
}

void writeFrameDecoderSeed(const SeedWriter& writer, const std::string& name,
                           const std::vector<const Bits*>& messages, FrameLayout layout,
                           char channel) {
    Bits bits;
    for (const Bits* message : messages) {
        const Bits burst = burstBits(*message);
        bits.insert(bits.end(), burst.begin(), burst.end());
    }
    SentenceChecker checker(channel);
    FrameDecoder* decoder = createFrameDecoder(channel, &SentenceChecker::check, &checker);
    for (const uint8_t bit : bits) {
        decodeBit(decoder, bit);
    }
    destroyFrameDecoder(decoder);
    expectSentences(name, checker.sentences(), expectedFor(messages, channel));

    // The layout byte: bit 0 one bit a byte, bit 1 channel B, bit 2 messages.
    Bytes input{static_cast<uint8_t>((layout == FrameLayout::bitPerByte ? 1 : 0) |
                                     (channel == 'B' ? 2 : 0) |
                                     (layout == FrameLayout::messages ? 4 : 0))};
    if (layout == FrameLayout::messages) {
        for (const Bits* message : messages) {
            const std::vector<uint8_t> bytes = packBytes(padToWholeBytes(*message));
            input.push_back(static_cast<uint8_t>(bytes.size()));
            input.insert(input.end(), bytes.begin(), bytes.end());
        }
    } else if (layout == FrameLayout::bitPerByte) {
        input.insert(input.end(), bits.begin(), bits.end());
    } else {
        bits.resize((bits.size() + bitsPerByte - 1) / bitsPerByte * bitsPerByte, 1);  // idle 1s
        for (std::size_t i = 0; i < bits.size(); i += bitsPerByte) {
            uint8_t byte = 0;
            for (int j = 0; j < bitsPerByte; ++j) {
                byte = static_cast<uint8_t>(byte | bits[i + static_cast<std::size_t>(j)] << j);
            }
            input.push_back(byte);
        }
    }
    writer.write("frame_decoder", name, input);
}

void writeReceiverSeed(const SeedWriter& writer, const std::string& name, const Bits& message,
                       const DiscriminatorSettings& settings, const std::vector<int32_t>& counts) {
    GaussianNoise noise = makeGaussianNoise(1);
    std::vector<int16_t> samples =
        discriminatorBurst(makeGmskPulse(), nrziEncode(burstBits(message)), settings, noise);
    samples.resize(samples.size() + filterFlushSamples, 0);
    SentenceChecker checker('A');
    AisReceiver* receiver =
        createAisReceiver('A', false, &SentenceChecker::check, &checker, nullptr, nullptr);
    Bytes input;
    std::size_t position = 0;
    for (std::size_t turn = 0; position < samples.size(); ++turn) {
        const int32_t wanted = counts[turn % counts.size()];
        const int32_t count = std::min<int32_t>(std::min(wanted, maxCall),
                                                static_cast<int32_t>(samples.size() - position));
        appendInt16(input, wanted);
        processSamples(receiver, count > 0 ? samples.data() + position : nullptr, count);
        for (int32_t i = 0; i < count; ++i, ++position) {
            appendInt16(input, samples[position]);
        }
    }
    destroyAisReceiver(receiver);
    expectSentences(name, checker.sentences(), expectedFor({&message}, 'A'));
    writer.write("receiver", name, input);
}

void writeDemodulatorSeed(const SeedWriter& writer, const std::string& name, ChannelBurst onA,
                          ChannelBurst onB, const RecordingSettings& settings,
                          const std::vector<uint16_t>& blockLengths) {
    const GmskPulse pulse = makeGmskPulse();
    const std::vector<RecordedBurst> bursts{
        {nrziEncode(burstBits(*onA.message)), 'A', onA.startSample},
        {nrziEncode(burstBits(*onB.message)), 'B', onB.startSample}};
    double end = 0.0;
    for (const RecordedBurst& burst : bursts) {
        end = std::max(
            end, burstEndSample(burst.startSample, burst.levels.size(), settings.clockErrorPpm));
    }
    std::ostringstream recording;
    writeRecording(bursts, static_cast<std::int64_t>(end) + recordingGuard, settings, pulse,
                   recording);
    const std::string raw = recording.str();

    std::vector<float> stream;
    for (const char byte : raw) {
        stream.push_back(static_cast<float>(static_cast<uint8_t>(byte)) - sampleMidpoint);
    }
    ChannelChain chains[] = {{channelFrequencyA, 'A'}, {channelFrequencyB, 'B'}};
    for (ChannelChain& chain : chains) {
        std::size_t offset = 0;
        for (std::size_t turn = 0; offset < stream.size(); ++turn) {
            const std::size_t wanted = blockLengths.empty()
                                           ? stream.size()
                                           : blockLengths[turn % blockLengths.size()] + 1u;
            const std::size_t length = std::min(wanted, stream.size() - offset);
            demodulateBlock(chain.state, stream.data() + offset, static_cast<uint32_t>(length),
                            chain.decoder);
            offset += length;
        }
        flushBlock(chain.state, chain.decoder);
    }
    expectSentences(name + " on A", chains[0].decoder.checker.sentences(),
                    expectedFor({onA.message}, 'A'));
    expectSentences(name + " on B", chains[1].decoder.checker.sentences(),
                    expectedFor({onB.message}, 'B'));

    Bytes input{static_cast<uint8_t>(blockLengths.size())};
    for (const uint16_t length : blockLengths) {
        appendInt16(input, length);
    }
    input.insert(input.end(), raw.begin(), raw.end());
    writer.write("demodulator", name, input);
}

void writeTextSeeds(const SeedWriter& writer, const std::string& target,
                    const std::vector<std::string>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        writer.write(target, "typical-" + std::to_string(i + 1),
                     Bytes(texts[i].begin(), texts[i].end()));
    }
}
