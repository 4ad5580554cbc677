#include "sdr/input_error.hpp"

#include <cstring>

InputError::InputError(const std::string& path, int errorNumber)
    : std::runtime_error(path + ": " + std::strerror(errorNumber)) {}
