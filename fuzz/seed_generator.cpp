// keelwave-fuzz-seeds: writes the seed corpora of the fuzz targets.
//
//   keelwave-fuzz-seeds <tests/data directory> <fuzz/corpus directory>
//
// The AIS messages are real ones, from the sentences in tests/data; the transmitter model
// (tools/transmitter) turns them into decoded bit streams, discriminator bursts and tuner
// recordings, each laid out as its target reads its input (see the comment at the top of each
// fuzz/<name>_fuzz.cpp). Every seed that should decode is run through the decoding chain here,
// and the generator fails unless exactly the sentences the model expects come out.

#include "ais/ais_receiver.hpp"
#include "ais/frame_decoder.hpp"
#include "fuzz/checked_receiver.hpp"
#include "fuzz/sentence_checker.hpp"
#include "sdr/channel_demodulator.hpp"
#include "tools/transmitter/ais_burst.hpp"
#include "tools/transmitter/burst_schedule.hpp"
#include "tools/transmitter/burst_stream.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/iq_recording.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace transmitter;

namespace {

using Bytes = std::vector<uint8_t>;
using Sentences = std::vector<std::string>;

constexpr int bitsPerByte = 8;
constexpr int32_t maxCall = 8192;                     // samples per processSamples call
constexpr uint32_t tunerCentreFrequency = 162000000;  // Hz
constexpr int32_t channelFrequencyA = 161975000;      // Hz
constexpr int32_t channelFrequencyB = 162025000;      // Hz
constexpr std::int64_t recordingGuard = 900;          // tuner samples after the last burst

std::string corpusDirectory;

void writeSeed(const std::string& target, const std::string& name, const Bytes& bytes) {
    std::ofstream out(corpusDirectory + "/" + target + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + target + "/" + name);
    }
}

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
        for (const std::string& sentence : expectedSentences(*message, channel, counters)) {
            sentences.push_back(sentence);
        }
    }
    return sentences;
}

// --- frame_decoder: decoded bit streams -------------------------------------------------

void frameDecoderSeed(const std::string& name, const std::vector<const Bits*>& messages,
                      bool bitPerByte, char channel, bool decodes = true) {
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
    expectSentences(name, checker.sentences(),
                    decodes ? expectedFor(messages, channel) : Sentences{});

    Bytes input{static_cast<uint8_t>((bitPerByte ? 1 : 0) | (channel == 'B' ? 2 : 0))};
    if (bitPerByte) {
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
    writeSeed("frame_decoder", name, input);
}

// --- receiver: discriminator bursts in calls ------------------------------------------

std::vector<int16_t> discriminatorStream(const Bits& message,
                                         const DiscriminatorSettings& settings) {
    GaussianNoise noise = makeGaussianNoise(1);
    std::vector<int16_t> samples =
        discriminatorBurst(makeGmskPulse(), nrziEncode(burstBits(message)), settings, noise);
    samples.resize(samples.size() + 60, 0);  // flushes the receive filter
    return samples;
}

/// Lays the samples out as calls of the given counts in turn (a count <= 0 takes none).
void receiverSeed(const std::string& name, const Bits& message,
                  const DiscriminatorSettings& settings, const std::vector<int32_t>& counts) {
    const std::vector<int16_t> samples = discriminatorStream(message, settings);
    SentenceChecker checker('A');
    AisReceiver* receiver =
        createAisReceiver('A', false, &SentenceChecker::check, &checker, nullptr, nullptr);
    Bytes input;
    std::size_t position = 0;
    for (std::size_t turn = 0; position < samples.size(); ++turn) {
        const int32_t wanted = counts[turn % counts.size()];
        const int32_t count = std::min<int32_t>(std::min(wanted, maxCall),
                                                static_cast<int32_t>(samples.size() - position));
        input.push_back(static_cast<uint8_t>(wanted & 0xFF));
        input.push_back(static_cast<uint8_t>((wanted >> 8) & 0xFF));
        processSamples(receiver, count > 0 ? samples.data() + position : nullptr, count);
        for (int32_t i = 0; i < count; ++i, ++position) {
            const auto value = static_cast<uint16_t>(samples[position]);
            input.push_back(static_cast<uint8_t>(value & 0xFF));
            input.push_back(static_cast<uint8_t>(value >> 8));
        }
    }
    destroyAisReceiver(receiver);
    expectSentences(name, checker.sentences(), expectedFor({&message}, 'A'));
    writeSeed("receiver", name, input);
}

// --- demodulator: tuner recordings with a burst on each channel ----------------------------

struct ChannelChain {
    DemodulatorState state;
    CheckedReceiver decoder;
    ChannelChain(int32_t frequency, char channel) : decoder(channel) {
        state.phaseIncrement = channelPhaseIncrement(frequency, tunerCentreFrequency);
    }
};

void demodulatorSeed(const std::string& name, const Bits& onA, const Bits& onB, double startA,
                     double startB, const RecordingSettings& settings,
                     const std::vector<uint16_t>& blockLengths) {
    const GmskPulse pulse = makeGmskPulse();
    const std::vector<RecordedBurst> bursts{{nrziEncode(burstBits(onA)), 'A', startA},
                                            {nrziEncode(burstBits(onB)), 'B', startB}};
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
        stream.push_back(static_cast<float>(static_cast<uint8_t>(byte)) - 128.0f);
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
                    expectedFor({&onA}, 'A'));
    expectSentences(name + " on B", chains[1].decoder.checker.sentences(),
                    expectedFor({&onB}, 'B'));

    Bytes input{static_cast<uint8_t>(blockLengths.size())};
    for (const uint16_t length : blockLengths) {
        input.push_back(static_cast<uint8_t>(length & 0xFF));
        input.push_back(static_cast<uint8_t>(length >> 8));
    }
    input.insert(input.end(), raw.begin(), raw.end());
    writeSeed("demodulator", name, input);
}

// --- command_line and udp_address: typical text ---------------------------------------------

void textSeeds(const std::string& target, const std::vector<std::string>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        writeSeed(target, "typical-" + std::to_string(i + 1),
                  Bytes(texts[i].begin(), texts[i].end()));
    }
}

/// The words of a command line as the command_line target reads them: separated by NULs.
std::string commandLine(std::initializer_list<const char*> words) {
    std::string text;
    for (const char* word : words) {
        if (!text.empty()) {
            text.push_back('\0');
        }
        text += word;
    }
    return text;
}

std::vector<AisMessage> readMessages(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return readNmeaMessages(in).messages;
}

int messageType(const Bits& bits) {
    int type = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        type = type * 2 + bits[i];
    }
    return type;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: keelwave-fuzz-seeds <tests/data directory> <fuzz/corpus directory>"
                  << std::endl;
        return 2;
    }
    const std::string dataDirectory = argv[1];
    corpusDirectory = argv[2];
    try {
        // The first message of each type that a receiver prints, in type order.
        std::map<int, Bits> byType;
        for (const AisMessage& message : readMessages(dataDirectory + "/real-aivdm-sample.nmea")) {
            if (receiverVerdict(message.bits) == MessageVerdict::printed) {
                byType.emplace(messageType(message.bits), message.bits);
            }
        }
        const std::vector<AisMessage> invalid =
            readMessages(dataDirectory + "/real-aivdm-invalid-type.nmea");
        for (const int type : {1, 3, 5, 18, 21, 24}) {
            if (byType.count(type) == 0) {
                throw std::runtime_error("no message of type " + std::to_string(type));
            }
        }
        const Bits& type1 = byType.at(1);
        const Bits& type3 = byType.at(3);
        const Bits& type5 = byType.at(5);  // two sentences
        const Bits& type18 = byType.at(18);
        const Bits& type21 = byType.at(21);
        const Bits& type24 = byType.at(24);

        // frame_decoder: one message of every type, alternately on A and B, eight bits a byte;
        // a few one bit a byte; several messages in a row; types a receiver never prints.
        for (const auto& [type, bits] : byType) {
            const std::string name =
                std::string(type < 10 ? "type0" : "type") + std::to_string(type);
            frameDecoderSeed(name, {&bits}, false, type % 2 == 1 ? 'A' : 'B');
        }
        frameDecoderSeed("type01-bit-per-byte", {&type1}, true, 'A');
        frameDecoderSeed("type05-bit-per-byte", {&type5}, true, 'B');
        frameDecoderSeed("type24-bit-per-byte", {&type24}, true, 'A');
        frameDecoderSeed("sequence-1-5-5-24-5", {&type1, &type5, &type5, &type24, &type5}, false,
                         'A');
        frameDecoderSeed("invalid-types", {&invalid.at(0).bits, &invalid.at(1).bits}, false, 'A',
                         false);

        // receiver: discriminator bursts, at various bit phases and clock errors, in calls of
        // 4096 (as the channel makes them), of all at once, and of odd and empty sizes.
        DiscriminatorSettings plain;
        plain.startSample = 200.0;
        DiscriminatorSettings late = plain;
        late.startSample = 2100.4;  // across the filter history's wrap at 988 samples
        DiscriminatorSettings slow = plain;
        slow.clockErrorPpm = 5000.0;
        slow.startSample = 90.7;
        DiscriminatorSettings fast = plain;
        fast.clockErrorPpm = -5000.0;
        fast.startSample = 333.2;
        DiscriminatorSettings noisy = plain;
        noisy.noiseRms = noiseRmsForSnr(20.0);
        noisy.startSample = 150.5;
        receiverSeed("type01-calls-4096", type1, plain, {4096});
        receiverSeed("type05-one-call", type5, late, {maxCall});
        receiverSeed("type03-slow-clock", type3, slow, {1000, 37, 0, -5, 4096});
        receiverSeed("type18-fast-clock", type18, fast, {-1, 2, 511, 8192});
        receiverSeed("type24-noise", type24, noisy, {4096});
        receiverSeed("type21-sample-by-sample", type21, plain, {1});

        // demodulator: a burst on each channel, together or apart, clean or noisy, in one
        // block, in blocks of up to 65536 bytes, or cut unevenly (at even points: an odd cut
        // swaps I and Q for the rest of the stream).
        RecordingSettings clean;
        RecordingSettings rough;
        rough.snrDb = 25.0;
        rough.carrierOffsetHz = 400.0;
        rough.clockErrorPpm = 40.0;
        rough.amplitude = 90.0;
        rough.seed = 7;
        demodulatorSeed("type01A-type03B-together.cu8", type1, type3, 300.0, 300.0, clean, {});
        demodulatorSeed("type18A-type24B-apart-uneven-cuts.cu8", type18, type24, 120.5, 2500.0,
                        clean, {999, 331, 4095});
        demodulatorSeed("type05A-type01B-rough.cu8", type5, type1, 600.0, 200.0, rough, {65535});
        // The bursts straddle the first 4096-sample block handed on (24576 tuner samples).
        demodulatorSeed("type03A-type21B-across-block.cu8", type3, type21, 20000.0, 21000.0, clean,
                        {51199});

        textSeeds(
            "command_line",
            {commandLine({"--udp", "localhost:10110"}),
             commandLine({"--net", "10110", "--no-console"}),
             commandLine({"--gain=49.6", "--freq-correction", "-3", "--device-index", "1"}),
             commandLine({"-h"}), commandLine({"--device-list"}),
             commandLine({"--input", "recording.cu8", "--verbose"}),
             commandLine({"-r", "-", "--net", "2947", "--udp", ":10110"}),
             commandLine({"--agc", "--gain", "-1.5"}),
             commandLine({"--net=70000", "--verbose", "stray"}), commandLine({"--gain", "loud"}),
             commandLine({"--ga", "3"}), commandLine({"--device-index", "1", "--input", "file"})});
        textSeeds("udp_address",
                  {"gpsd.local:10110", ":10110", "127.0.0.1:2947", "host: +2947", "10.0.0.7:10110x",
                   "[::1]:10110", "host:", "a:b:10110", "host:65536", "host:4294967306"});
    } catch (const std::exception& error) {
        std::cerr << "keelwave-fuzz-seeds: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
