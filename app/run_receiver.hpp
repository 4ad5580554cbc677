#pragma once

#include <boost/program_options/variables_map.hpp>

namespace keelwave::app {

/// The whole life of the receiver: builds every component from the parsed options, runs until
/// SIGINT or SIGTERM, then stops everything in order. Returns the exit status.
int runReceiver(boost::program_options::variables_map& options);

}  // namespace keelwave::app
