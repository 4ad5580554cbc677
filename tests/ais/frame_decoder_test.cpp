// The deframer fed the decoded bits of bursts framed by the transmitter model (its own CRC and
// bit stuffing), intact and broken in each way a burst breaks on the air.
#include "ais/frame_decoder.hpp"
#include "tests/support/corpus.hpp"
#include "tools/transmitter/ais_burst.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <variant>

namespace keelwave::test {
namespace {

using namespace ais;

using transmitter::Bits;

/// Bits written as '0' and '1', and whole bit sequences, joined.
Bits bits(std::initializer_list<std::variant<const char*, Bits>> parts) {
    Bits all;
    for (const auto& part : parts) {
        if (const auto* digits = std::get_if<const char*>(&part)) {
            for (const char* digit = *digits; *digit != '\0'; ++digit) {
                all.push_back(*digit == '1');
            }
        } else {
            all.insert(all.end(), std::get<Bits>(part).begin(), std::get<Bits>(part).end());
        }
    }
    return all;
}

const char* const ramp = "11111111";
const char* const training = "010101010101010101010101";
const char* const flag = "01111110";

/// The stuffed bytes and FCS of `message`, as the model frames them.
Bits stuffedFrame(const Bits& message) {
    auto frame = transmitter::packBytes(transmitter::padToWholeBytes(message));
    const uint16_t fcs = transmitter::frameCheckSequence(frame);
    frame.insert(frame.end(), {static_cast<uint8_t>(fcs & 0xFF), static_cast<uint8_t>(fcs >> 8)});
    return transmitter::stuffBytes(frame);
}

std::vector<std::string> decode(const Bits& stream) {
    std::vector<std::string> sentences;
    SentenceEncoder encoder('A', ChainKind::classic, sentencesInto(sentences));
    FrameDecoder decoder;
    decoder.frameCallback = &encodeFrame;
    decoder.frameContext = &encoder;
    for (uint8_t bit : stream) {
        decodeBit(&decoder, bit);
    }
    return sentences;
}

Bits withIdentifier(Bits message, unsigned identifier) {
    for (unsigned bit = 0; bit < 6; ++bit) {
        message[bit] = (identifier >> (5 - bit)) & 1;
    }
    return message;
}

const Bits& messageOfLength(std::size_t length) {
    return *std::find_if(corpus().begin(), corpus().end(),
                         [length](const Bits& message) { return message.size() == length; });
}

TEST(FrameDecoder, DecodesWhatAReceiverMustAndNothingElse) {
    const Bits& position = messageOfLength(168);
    const Bits& voyage = messageOfLength(424);
    const Bits body = stuffedFrame(position);
    struct Case {
        const char* what;
        Bits stream;
        std::vector<Bits> heard;
    };
    const Case cases[] = {
        {"a whole burst", bits({ramp, training, flag, body, flag}), {position}},
        {"424 bits in two sentences", transmitter::burstBits(voyage), {voyage}},
        {"identifier 0", transmitter::burstBits(withIdentifier(position, 0)), {}},
        {"identifier 27",
         transmitter::burstBits(withIdentifier(position, 27)),
         {withIdentifier(position, 27)}},
        {"432 bits are too long", transmitter::burstBits(bits({voyage, "00000000"})), {}},
        {"14 training bits after the ramp",
         bits({ramp, "01010101010101", flag, body, flag}),
         {position}},
        {"12 training bits", bits({ramp, "010101010101", flag, body, flag}), {}},
        {"13 from a cold start", bits({"1010101010101", flag, body, flag}), {}},
        {"a seventh 1 in the end flag", bits({ramp, training, flag, body, "01111111"}), {}},
        {"a bit after an intact FCS", bits({ramp, training, flag, body, "0", flag}), {}},
        {"a 0 after the end flag", bits({ramp, training, flag, body, flag, "0"}), {position}},
        {"a burst after a broken start flag",
         bits({ramp, training, "01111111", transmitter::burstBits(position)}),
         {position}},
        {"two bursts back to back",
         bits({transmitter::burstBits(voyage), transmitter::burstBits(position)}),
         {voyage, position}},
    };
    for (const Case& c : cases) {
        // The end flag's closing 0 is the last bit the deframer needs; a ramp-down follows.
        EXPECT_EQ(decode(bits({c.stream, "1111"})), expectedFor(c.heard)) << c.what;
    }
}

TEST(FrameDecoder, AnySingleFlippedBitOfDataOrFcsLosesTheMessage) {
    const Bits frame = stuffedFrame(messageOfLength(168));
    for (std::size_t flipped = 0; flipped < frame.size(); ++flipped) {
        Bits broken = frame;
        broken[flipped] ^= 1;
        EXPECT_THAT(decode(bits({ramp, training, flag, broken, flag, "1111"})), testing::IsEmpty())
            << "bit " << flipped;
    }
}

}  // namespace
}  // namespace keelwave::test
