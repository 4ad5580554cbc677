#pragma once

#include <iosfwd>

namespace keelwave::app {

/// The program's banner, logged at INFO as the first line of every run.
constexpr const char* versionBanner = "Keelwave v.20180430";

/// Writes the attached RTL devices to `out`; throws SdrException when librtlsdr has no name
/// for a device it counted.
void listDevices(std::ostream& out);

/// The whole program: banner, option parsing, help, device list or the receiver. Returns the
/// exit status.
int runCommandLine(int argc, char** argv);

}  // namespace keelwave::app
