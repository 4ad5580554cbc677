#pragma once

#include <stdexcept>
#include <string>

namespace keelwave::base {

/// Why the program cannot run as asked: a tuner call that failed, an input that cannot be
/// opened, an option the outputs cannot use. Thrown where it is found and caught in one place,
/// which writes `line()` to standard error and ends the program with status 1.
class StartupError : public std::runtime_error {
public:
    /// A failure told as "Error: " and `reason`, e.g. "rtlsdr_open(): No such device".
    explicit StartupError(const std::string& reason);

    /// A failure with a line of its own, e.g. "Invalid port in --udp option host:x".
    static StartupError withLine(const std::string& line);

    /// The whole line for standard error, without its end.
    const std::string& line() const { return text; }

private:
    StartupError(const std::string& reason, std::string line);

    std::string text;
};

}  // namespace keelwave::base
