#pragma once

#include "format/message_format.hpp"

#include <utility>

namespace keelwave::format {

/// The sentences with an NMEA 4.0 tag block before each:
///
///   \g:1-2-17,c:1772596631,s:mast1*3C\!AIVDM,2,1,...      c: time of arrival, UNIX seconds
///   \g:2-2-17,c:1772596631,s:mast1*3F\!AIVDM,2,2,...      s: the station; g: sentence-count-group
///
/// `c:` is left out while the stream has no UTC time (a recording without its start time); `g:`
/// is given to the sentences of a message of more than one, with a group number (1..9999) per
/// message. The checksum is the XOR of the characters between the backslashes, as a
/// sentence's is.
class TaggedFormat : public MessageFormat {
public:
    explicit TaggedFormat(FormatContext formatContext) : context(std::move(formatContext)) {}

    void write(const ais::AisMessage& message, std::vector<std::string>& lines) override;

private:
    const FormatContext context;
    int group = 0;  ///< the last group number given
};

}  // namespace keelwave::format
