#pragma once

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

namespace keelwave::app {

/// Every option of the program, in the order the help text lists them.
boost::program_options::options_description makeOptionsDescription();

/// Parses, stores and notifies the command line against makeOptionsDescription and refuses
/// what the receiver could not use (a gain beyond the tuner call's range, tuner settings with a
/// recording as input). Throws boost::program_options::error for every option error; starts
/// nothing.
boost::program_options::variables_map parseOptions(int argc, const char* const argv[]);

}  // namespace keelwave::app
