#include "format/nmea_format.hpp"

namespace keelwave::format {

void NmeaFormat::write(const ais::AisMessage& message, std::vector<std::string>& lines) {
    lines.clear();
    for (int32_t index = 0; index < message.sentenceCount; ++index) {
        lines.emplace_back(message.sentence(index));
    }
}

}  // namespace keelwave::format
