#include "format/formats.hpp"

#include "format/json_format.hpp"
#include "format/nmea_format.hpp"
#include "format/tagged_format.hpp"

#include <algorithm>
#include <iterator>

namespace keelwave::format {

bool isFormat(const std::string& name) {
    return std::find(std::begin(formatNames), std::end(formatNames), name) != std::end(formatNames);
}

std::unique_ptr<MessageFormat> makeFormat(const std::string& name, const FormatContext& context) {
    if (name == "nmea") {
        return std::make_unique<NmeaFormat>();
    }
    if (name == "tagged") {
        return std::make_unique<TaggedFormat>(context);
    }
    if (name == "json") {
        return std::make_unique<JsonFormat>(context);
    }
    return nullptr;
}

}  // namespace keelwave::format
