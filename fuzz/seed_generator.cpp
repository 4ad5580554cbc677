// keelwave-fuzz-seeds: writes the seed corpora of the fuzz targets.
//
//   keelwave-fuzz-seeds <tests/data directory> <fuzz/corpus directory>
//
// The AIS messages are real ones, from the sentences in tests/data; the transmitter model
// (tools/transmitter) turns them into decoded bit streams, discriminator bursts and tuner
// recordings, each laid out as its target reads its input (see the comment at the top of each
// fuzz/<name>_fuzz.cpp). Every seed that should decode is run through the decoding chain, and
// the generator fails unless exactly the sentences the model expects come out.

#include "fuzz/seed_inputs.hpp"
#include "tools/transmitter/burst_stream.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace transmitter;

namespace {

constexpr int32_t maxCall = 8192;  // samples per processSamples call
constexpr std::size_t messageIdBits = 6;

/// The first message of each type that a receiver prints.
using MessagesByType = std::map<int, Bits>;

std::vector<AisMessage> readMessages(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return readNmeaMessages(in).messages;
}

MessagesByType messagesByType(const std::vector<AisMessage>& messages) {
    MessagesByType byType;
    for (const AisMessage& message : messages) {
        if (receiverVerdict(message.bits) != MessageVerdict::printed) {
            continue;
        }
        int type = 0;
        for (std::size_t i = 0; i < messageIdBits; ++i) {
            type = type * 2 + message.bits[i];
        }
        byType.emplace(type, message.bits);
    }
    return byType;
}

const Bits* ofType(const MessagesByType& byType, int type) {
    const auto found = byType.find(type);
    if (found == byType.end()) {
        throw std::runtime_error("no message of type " + std::to_string(type));
    }
    return &found->second;
}

/// One message of every type, alternately on A and B, eight bits a byte; a few one bit a byte;
/// several messages in a row; as message bytes: all types, messages a receiver never prints
/// (impossible types, too long) among others.
void frameDecoderSeeds(const SeedWriter& writer, const MessagesByType& byType,
                       const std::vector<AisMessage>& sample,
                       const std::vector<AisMessage>& invalid) {
    std::vector<const Bits*> everyType;
    for (const auto& [type, bits] : byType) {
        const std::string name = std::string(type < 10 ? "type0" : "type") + std::to_string(type);
        writeFrameDecoderSeed(writer, name, {&bits}, FrameLayout::packedBits,
                              type % 2 == 1 ? 'A' : 'B');
        everyType.push_back(&bits);
    }
    const Bits* type1 = ofType(byType, 1);
    const Bits* type5 = ofType(byType, 5);  // two sentences
    const Bits* type18 = ofType(byType, 18);
    const Bits* type24 = ofType(byType, 24);
    const auto tooLong = std::find_if(sample.begin(), sample.end(), [](const AisMessage& message) {
        return receiverVerdict(message.bits) == MessageVerdict::tooLong;
    });
    if (tooLong == sample.end()) {
        throw std::runtime_error("no message longer than a frame carries");
    }
    writeFrameDecoderSeed(writer, "type01-bit-per-byte", {type1}, FrameLayout::bitPerByte, 'A');
    writeFrameDecoderSeed(writer, "type05-bit-per-byte", {type5}, FrameLayout::bitPerByte, 'B');
    writeFrameDecoderSeed(writer, "type24-bit-per-byte", {type24}, FrameLayout::bitPerByte, 'A');
    writeFrameDecoderSeed(writer, "sequence-1-5-5-24-5", {type1, type5, type5, type24, type5},
                          FrameLayout::packedBits, 'A');
    writeFrameDecoderSeed(writer, "invalid-types", {&invalid.at(0).bits, &invalid.at(1).bits},
                          FrameLayout::packedBits, 'A');
    writeFrameDecoderSeed(writer, "messages-every-type", everyType, FrameLayout::messages, 'B');
    writeFrameDecoderSeed(writer, "messages-too-long-invalid-type",
                          {type5, &tooLong->bits, type1, &invalid.at(0).bits, type18},
                          FrameLayout::messages, 'A');
}

/// Discriminator bursts at various bit phases and clock errors, in calls of 4096 (as the
/// channel makes them), of all at once, and of odd, empty and negative sizes.
void receiverSeeds(const SeedWriter& writer, const MessagesByType& byType) {
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
    writeReceiverSeed(writer, "type01-calls-4096", *ofType(byType, 1), plain, {4096});
    writeReceiverSeed(writer, "type05-one-call", *ofType(byType, 5), late, {maxCall});
    writeReceiverSeed(writer, "type03-slow-clock", *ofType(byType, 3), slow,
                      {1000, 37, 0, -5, 4096});
    writeReceiverSeed(writer, "type18-fast-clock", *ofType(byType, 18), fast, {-1, 2, 511, 8192});
    writeReceiverSeed(writer, "type24-noise", *ofType(byType, 24), noisy, {4096});
    writeReceiverSeed(writer, "type21-sample-by-sample", *ofType(byType, 21), plain, {1});
}

/// A burst on each channel, together or apart, clean or noisy, in one block, in blocks of up
/// to 65536 bytes, or cut unevenly (at even points: an odd cut swaps I and Q for the rest of
/// the stream, and nothing decodes).
void demodulatorSeeds(const SeedWriter& writer, const MessagesByType& byType) {
    RecordingSettings clean;
    RecordingSettings rough;
    rough.snrDb = 25.0;
    rough.carrierOffsetHz = 400.0;
    rough.clockErrorPpm = 40.0;
    rough.amplitude = 90.0;
    rough.seed = 7;
    writeDemodulatorSeed(writer, "type01A-type03B-together.cu8", {ofType(byType, 1), 300.0},
                         {ofType(byType, 3), 300.0}, clean, {});
    writeDemodulatorSeed(writer, "type18A-type24B-apart-uneven-cuts.cu8",
                         {ofType(byType, 18), 120.5}, {ofType(byType, 24), 2500.0}, clean,
                         {999, 331, 4095});
    writeDemodulatorSeed(writer, "type05A-type01B-rough.cu8", {ofType(byType, 5), 600.0},
                         {ofType(byType, 1), 200.0}, rough, {65535});
    // The bursts straddle the first 4096-sample block handed on (24576 tuner samples).
    writeDemodulatorSeed(writer, "type03A-type21B-across-block.cu8", {ofType(byType, 3), 20000.0},
                         {ofType(byType, 21), 21000.0}, clean, {51199});
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

void textSeeds(const SeedWriter& writer) {
    writeTextSeeds(
        writer, "command_line",
        {commandLine({"--udp", "localhost:10110"}), commandLine({"--net", "10110", "--no-console"}),
         commandLine({"--gain=49.6", "--freq-correction", "-3", "--device-index", "1"}),
         commandLine({"-h"}), commandLine({"--device-list"}),
         commandLine({"--input", "recording.cu8", "--verbose"}),
         commandLine({"-r", "-", "--net", "2947", "--udp", ":10110"}),
         commandLine({"--agc", "--gain", "-1.5"}),
         commandLine({"--net=70000", "--verbose", "stray"}), commandLine({"--gain", "loud"}),
         commandLine({"--ga", "3"}), commandLine({"--device-index", "1", "--input", "file"})});
    writeTextSeeds(
        writer, "udp_address",
        {"gpsd.local:10110", ":10110", "127.0.0.1:2947", "host: +2947", "10.0.0.7:10110x",
         "[::1]:10110", "host:", "a:b:10110", "host:65536", "host:4294967306"});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: keelwave-fuzz-seeds <tests/data directory> <fuzz/corpus directory>"
                  << std::endl;
        return 2;
    }
    const std::string dataDirectory = argv[1];
    const SeedWriter writer{argv[2]};
    try {
        const std::vector<AisMessage> sample =
            readMessages(dataDirectory + "/real-aivdm-sample.nmea");
        const MessagesByType byType = messagesByType(sample);
        frameDecoderSeeds(writer, byType, sample,
                          readMessages(dataDirectory + "/real-aivdm-invalid-type.nmea"));
        receiverSeeds(writer, byType);
        demodulatorSeeds(writer, byType);
        textSeeds(writer);
    } catch (const std::exception& error) {
        std::cerr << "keelwave-fuzz-seeds: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
