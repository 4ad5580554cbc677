#include "sdr/rtl_tcp_protocol.hpp"

#include <cstring>

namespace keelwave::sdr {

namespace {

constexpr char greetingMagic[] = "RTL0";
constexpr std::size_t magicBytes = sizeof greetingMagic - 1;
/// librtlsdr's tuner types, by their number in the greeting.
constexpr const char* tunerNames[] = {"unknown tuner", "E4000", "FC0012", "FC0013",
                                      "FC2580",        "R820T", "R828D"};
constexpr unsigned bitsPerByte = 8;

uint32_t readBigEndian(const uint8_t* bytes) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < sizeof value; ++i) {
        value = value << bitsPerByte | bytes[i];
    }
    return value;
}

}  // namespace

std::optional<RtlTcpGreeting> parseRtlTcpGreeting(
    const std::array<uint8_t, rtlTcpGreetingBytes>& bytes) {
    if (std::memcmp(bytes.data(), greetingMagic, magicBytes) != 0) {
        return std::nullopt;
    }
    return RtlTcpGreeting{readBigEndian(bytes.data() + magicBytes),
                          readBigEndian(bytes.data() + magicBytes + sizeof(uint32_t))};
}

std::string rtlTcpTunerName(uint32_t tunerType) {
    if (tunerType >= std::size(tunerNames)) {
        return "unknown tuner " + std::to_string(tunerType);
    }
    return tunerNames[tunerType];
}

std::array<uint8_t, rtlTcpCommandBytes> encodeRtlTcpCommand(RtlTcpCommand command,
                                                            int32_t argument) {
    const auto value = static_cast<uint32_t>(argument);  // two's complement, as the server reads it
    std::array<uint8_t, rtlTcpCommandBytes> bytes{static_cast<uint8_t>(command)};
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (bitsPerByte * (bytes.size() - 1 - i)));
    }
    return bytes;
}

}  // namespace keelwave::sdr
