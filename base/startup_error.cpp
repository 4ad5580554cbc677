#include "base/startup_error.hpp"

#include <utility>

namespace keelwave::base {

StartupError::StartupError(const std::string& reason) : StartupError(reason, "Error: " + reason) {}

StartupError::StartupError(const std::string& reason, std::string line)
    : std::runtime_error(reason), text(std::move(line)) {}

StartupError StartupError::withLine(const std::string& line) {
    return StartupError(line, line);
}

}  // namespace keelwave::base
