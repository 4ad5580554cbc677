#include "format/tagged_format.hpp"

#include <cmath>
#include <cstdio>

namespace keelwave::format {

namespace {

constexpr int lastGroup = 9999;  // group numbers go round within four digits

std::string tagBlock(const std::string& tags) {
    unsigned checksum = 0;
    for (const char character : tags) {
        checksum ^= static_cast<unsigned char>(character);
    }
    char end[8];
    std::snprintf(end, sizeof end, "*%02X\\", checksum & 0xFFu);
    return "\\" + tags + end;
}

}  // namespace

void TaggedFormat::write(const ais::AisMessage& message, std::vector<std::string>& lines) {
    std::string common;
    if (context.clock != nullptr && context.clock->utc()) {
        if (const auto seconds = context.clock->secondsAt(message.reception.streamPair)) {
            common += "c:" + std::to_string(static_cast<long long>(std::floor(*seconds))) + ",";
        }
    }
    common += "s:" + context.station;
    if (message.sentenceCount > 1) {
        group = group >= lastGroup ? 1 : group + 1;
    }
    lines.clear();
    for (int32_t index = 0; index < message.sentenceCount; ++index) {
        std::string tags;
        if (message.sentenceCount > 1) {
            tags = "g:" + std::to_string(index + 1) + "-" + std::to_string(message.sentenceCount) +
                   "-" + std::to_string(group) + ",";
        }
        lines.push_back(tagBlock(tags + common) + std::string(message.sentence(index)));
    }
}

}  // namespace keelwave::format
