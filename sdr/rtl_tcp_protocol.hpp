#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace keelwave::sdr {

// What rtl_tcp (the rtl-sdr package's server of a dongle over TCP) says and understands.
//
// On connecting, the server sends a greeting of 12 bytes, then the dongle's stream without
// end (unsigned 8-bit I/Q, I first, as from the local tuner):
//
//   bytes 0..3   "RTL0"
//   bytes 4..7   tuner type, big-endian (librtlsdr's enum rtlsdr_tuner: 1 E4000 ... 6 R828D)
//   bytes 8..11  number of gain steps the tuner offers, big-endian
//
// The client may send commands at any time, 5 bytes each: the command's number, then its
// argument as a 32-bit big-endian integer (signed ones in two's complement).

constexpr std::size_t rtlTcpGreetingBytes = 12;
constexpr std::size_t rtlTcpCommandBytes = 5;

/// The commands keelwave sends.
enum class RtlTcpCommand : uint8_t {
    setFrequency = 0x01,       ///< Hz
    setSampleRate = 0x02,      ///< pairs per second
    setGainMode = 0x03,        ///< 0 automatic, 1 manual
    setGain = 0x04,            ///< tenths of a dB, manual mode
    setFreqCorrection = 0x05,  ///< ppm
};

/// What a server announced in its greeting.
struct RtlTcpGreeting {
    uint32_t tunerType = 0;
    uint32_t gainCount = 0;
};

/// The greeting read from `bytes`, or nothing if it is not one ("RTL0" missing).
std::optional<RtlTcpGreeting> parseRtlTcpGreeting(
    const std::array<uint8_t, rtlTcpGreetingBytes>& bytes);

/// The tuner's name for a tuner type, e.g. "R820T"; "unknown tuner 9" beyond the list.
std::string rtlTcpTunerName(uint32_t tunerType);

/// The bytes of one command.
std::array<uint8_t, rtlTcpCommandBytes> encodeRtlTcpCommand(RtlTcpCommand command,
                                                            int32_t argument);

}  // namespace keelwave::sdr
