#pragma once

#include "format/message_format.hpp"

#include <utility>

namespace keelwave::format {

/// One JSON object per message on one line: every field of the message under gpsd's AIS names
/// (ais/fields), then how it was received:
///
///   {"class":"AIS","type":1,...,"channel":"A","toa":1772596631.254218,"signal_db":-42.1,
///    "offset_hz":312.5,"offset_ppm":1.93,"station":"mast1","chain":"sensitive",
///    "nmea":["!AIVDM,1,1,,A,...*4A"]}
///
/// `toa` is UNIX seconds when the stream's start is known in UTC, else seconds from the start
/// of the recording; a measure the chain could not take is left out.
class JsonFormat : public MessageFormat {
public:
    explicit JsonFormat(FormatContext formatContext) : context(std::move(formatContext)) {}

    void write(const ais::AisMessage& message, std::vector<std::string>& lines) override;

private:
    const FormatContext context;
};

}  // namespace keelwave::format
