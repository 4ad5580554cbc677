#pragma once

#include "format/message_format.hpp"

namespace keelwave::format {

/// The message's "!AIVDM" sentences as the chain wrote them, one line each: what every output
/// carries unless asked for another format.
class NmeaFormat : public MessageFormat {
public:
    void write(const ais::AisMessage& message, std::vector<std::string>& lines) override;
};

}  // namespace keelwave::format
