#pragma once

namespace keelwave::app {

/// The program's banner, logged at INFO as the first line of every run.
constexpr const char* versionBanner = "Keelwave v.20180430";

/// The whole program: banner, option parsing, help, device list or the receiver. Returns the
/// exit status.
int runCommandLine(int argc, char** argv);

}  // namespace keelwave::app
