#pragma once

#include "ais/ais_message.hpp"

#include <string>
#include <vector>

namespace keelwave::format {

/// How a message looks on an output: the lines it becomes, without line ends (each output adds
/// its own framing). Called on the I/O thread.
class MessageFormat {
public:
    virtual ~MessageFormat() = default;

    /// Replaces `lines` with the lines of `message`.
    virtual void write(const ais::AisMessage& message, std::vector<std::string>& lines) const = 0;
};

}  // namespace keelwave::format
