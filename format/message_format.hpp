#pragma once

#include "ais/ais_message.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace keelwave::format {

/// When a burst arrived, from its position in the tuner stream.
class ArrivalClock {
public:
    virtual ~ArrivalClock() = default;
    /// The time of arrival of the burst at tuner pair `streamPair`, in seconds: UNIX time when
    /// the stream's start is known in UTC (`utc`), else seconds from the start of the stream.
    /// Nothing when the position is unknown.
    virtual std::optional<double> secondsAt(int64_t streamPair) const = 0;
    /// Whether `secondsAt` gives UNIX time.
    virtual bool utc() const = 0;
};

/// What a format may put beside the message.
struct FormatContext {
    std::string station = "keelwave";     ///< the receiving station's name
    const ArrivalClock* clock = nullptr;  ///< none: no time of arrival
};

/// How a message looks on an output: the lines it becomes, without line ends (each output adds
/// its own framing). Called on the I/O thread.
class MessageFormat {
public:
    virtual ~MessageFormat() = default;

    /// Replaces `lines` with the lines of `message`.
    virtual void write(const ais::AisMessage& message, std::vector<std::string>& lines) = 0;
};

}  // namespace keelwave::format
