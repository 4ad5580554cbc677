#include "format/json_format.hpp"

#include "ais/fields/message_fields.hpp"
#include "base/tuner_stream.hpp"

#include <cmath>

namespace keelwave::format {

namespace {

/// `value` rounded to `decimals` places, as JSON prints it shortest.
double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

constexpr double hertzPerPpm = base::tunerCentreHz / 1e6;  // 162 Hz

}  // namespace

void JsonFormat::write(const ais::AisMessage& message, std::vector<std::string>& lines) {
    nlohmann::ordered_json object = ais::decodeMessageFields(message.bytes, message.bitCount);
    object["channel"] = std::string(1, message.channel);
    const ais::Reception& reception = message.reception;
    if (context.clock != nullptr) {
        if (const auto seconds = context.clock->secondsAt(reception.streamPair)) {
            object["toa"] = rounded(*seconds, 6);
        }
    }
    if (!std::isnan(reception.levelDb)) {
        object["signal_db"] = rounded(reception.levelDb, 1);
    }
    if (!std::isnan(reception.offsetHz)) {
        object["offset_hz"] = rounded(reception.offsetHz, 1);
        object["offset_ppm"] = rounded(reception.offsetHz / hertzPerPpm, 2);
    }
    object["station"] = context.station;
    object["chain"] = ais::chainName(message.chain);
    nlohmann::ordered_json& sentences = object["nmea"] = nlohmann::ordered_json::array();
    for (int32_t index = 0; index < message.sentenceCount; ++index) {
        sentences.push_back(std::string(message.sentence(index)));
    }
    lines.assign(1, object.dump());
}

}  // namespace keelwave::format
