#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace keelwave::app {

/// An ISO 8601 time with its zone, "2026-03-04T03:57:11.5Z" or "2026-03-04T05:57:11+02:00"
/// (a space for the T, up to six decimals of the second, Z or an offset of hours and minutes),
/// as microseconds since 1970-01-01 00:00 UTC; nothing when the text is none, or names no
/// real day or time.
std::optional<int64_t> parseUtcTime(const std::string& text);

}  // namespace keelwave::app
