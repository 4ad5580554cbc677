#pragma once

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include <iosfwd>

/// The program's banner, logged at INFO as the first line of every run.
constexpr const char* versionBanner = "Keelwave v.20180430";

/// Every option of the program, in the order the help text lists them.
boost::program_options::options_description makeOptionsDescription();

/// Parses, stores and notifies the command line against makeOptionsDescription and refuses
/// what the receiver could not use (a gain beyond the tuner call's range, tuner settings with a
/// recording as input). Throws boost::program_options::error for every option error; starts
/// nothing.
boost::program_options::variables_map parseOptions(int argc, const char* const argv[]);

/// Writes the attached RTL devices to `out`; throws SdrException when librtlsdr has no name
/// for a device it counted.
void listDevices(std::ostream& out);

/// The whole program: banner, option parsing, help, device list or the receiver. Returns the
/// exit status.
int runCommandLine(int argc, char** argv);
