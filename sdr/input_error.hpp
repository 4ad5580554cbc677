#pragma once

#include "base/startup_error.hpp"

#include <string>

namespace keelwave::sdr {

/// A recording that cannot be opened or read. The message is the name as the user gave it,
/// ": " and the system's text for the error, for example "nothere.cu8: No such file or
/// directory".
class InputError : public base::StartupError {
public:
    /// `errorNumber` is the errno value of the failed call, saved before anything else ran.
    InputError(const std::string& path, int errorNumber);
};

}  // namespace keelwave::sdr
