#pragma once

#include <stdexcept>

namespace keelwave::app {

/// A failed librtlsdr call. Built from the call's name with its parentheses, for example
/// "rtlsdr_open()"; the message is that name, ": " and the text of errno at construction.
class SdrException : public std::runtime_error {
public:
    /// Takes the name as a plain C string so that nothing is allocated before errno is read.
    explicit SdrException(const char* callName);
};

}  // namespace keelwave::app
