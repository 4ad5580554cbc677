#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

namespace keelwave::ais {

/// The decoding chains a channel may run: "classic", the discriminator chain the receiver was
/// built with (the default), and "sensitive", a coherent receiver that hears bursts near the
/// noise and far off frequency.
enum class ChainKind : uint8_t { classic, sensitive };

/// Their names on the command line and in the outputs, in ChainKind order.
constexpr const char* chainNames[] = {"classic", "sensitive"};

inline const char* chainName(ChainKind kind) {
    return chainNames[static_cast<int>(kind)];
}

/// The chain called `name`, or nothing.
inline std::optional<ChainKind> chainNamed(const std::string& name) {
    for (int kind = 0; kind < static_cast<int>(std::size(chainNames)); ++kind) {
        if (name == chainNames[kind]) {
            return static_cast<ChainKind>(kind);
        }
    }
    return std::nullopt;
}

}  // namespace keelwave::ais
