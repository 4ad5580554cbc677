#include "net/log_output.hpp"

#include "base/logger.hpp"

namespace keelwave::net {

void LogOutput::deliver(const MessageLines& lines) {
    for (const std::string& line : lines) {
        base::Logger::instance().log(base::Logger::INFO, line);
    }
    logged += lines.size();
}

bool LogOutput::ready(std::size_t count) {
    return !holdBack || base::Logger::instance().hasRoom(count);
}

}  // namespace keelwave::net
