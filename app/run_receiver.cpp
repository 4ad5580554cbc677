#include "app/run_receiver.hpp"

#include <iostream>

int runReceiver(boost::program_options::variables_map&) {
    std::cerr << "Error: receiving is not available in this build" << std::endl;
    return 1;
}
