#include "app/command_line.hpp"

#include "app/options.hpp"
#include "app/run_receiver.hpp"
#include "base/logger.hpp"
#include "base/startup_error.hpp"
#include "sdr/device_list.hpp"

#include <boost/program_options/errors.hpp>

#include <iostream>

namespace keelwave::app {

namespace po = boost::program_options;

int runCommandLine(int argc, char** argv) {
    base::Logger::instance().setConsole(true, base::Logger::INFO);
    base::Logger::instance().log(base::Logger::INFO, versionBanner);

    po::variables_map options;
    try {
        options = parseOptions(argc, argv);
        if (options.count("help") || argc == 1) {
            std::cout << makeOptionsDescription() << std::endl;
            return 0;
        }
    } catch (const po::error& error) {
        std::cerr << "Error: " << error.what() << std::endl;
        return 1;
    }

    if (options.count("device-list")) {
        try {
            sdr::listDevices(std::cout);
        } catch (const base::StartupError& error) {
            std::cerr << error.line() << std::endl;
            return 1;
        }
        return 0;
    }
    try {
        return runReceiver(options);
    } catch (const std::exception& error) {
        // A failure the run sequence cannot handle itself (no thread, no signal handling, no
        // socket): the receiver's objects have been unwound in order by now.
        std::cerr << "Error: " << error.what() << std::endl;
        return 1;
    }
}

}  // namespace keelwave::app
