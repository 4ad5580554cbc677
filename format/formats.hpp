#pragma once

#include "format/message_format.hpp"

#include <memory>
#include <optional>
#include <string>

namespace keelwave::format {

/// The formats an output may be given, by name: "nmea" (the default: the bare sentences),
/// "tagged" (each sentence after an NMEA 4.0 tag block) and "json" (one object per message).
constexpr const char* formatNames[] = {"nmea", "tagged", "json"};
constexpr const char* defaultFormat = "nmea";

bool isFormat(const std::string& name);

/// The format called `name`, writing with `context`; nothing for an unknown name.
std::unique_ptr<MessageFormat> makeFormat(const std::string& name, const FormatContext& context);

}  // namespace keelwave::format
