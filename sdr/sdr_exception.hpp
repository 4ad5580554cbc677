#pragma once

#include "base/startup_error.hpp"

namespace keelwave::sdr {

/// A failed librtlsdr call. Built from the call's name with its parentheses, for example
/// "rtlsdr_open()"; the message is that name, ": " and the text of errno at construction.
class SdrException : public base::StartupError {
public:
    /// Takes the name as a plain C string so that nothing is allocated before errno is read.
    explicit SdrException(const char* callName);
};

}  // namespace keelwave::sdr
