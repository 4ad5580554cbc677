#include "sdr/input_error.hpp"

#include <cstring>

namespace keelwave::sdr {

InputError::InputError(const std::string& path, int errorNumber)
    : StartupError(path + ": " + std::strerror(errorNumber)) {}

}  // namespace keelwave::sdr
