#include "sdr/sdr_exception.hpp"

#include <cerrno>
#include <cstring>
#include <string>

namespace keelwave::sdr {

namespace {
// errno is read before any string is built, since building one may allocate and change it.
std::string describe(int savedErrno, const char* callName) {
    return std::string(callName) + ": " + std::strerror(savedErrno);
}
}  // namespace

SdrException::SdrException(const char* callName) : StartupError(describe(errno, callName)) {}

}  // namespace keelwave::sdr
