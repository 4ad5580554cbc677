#include "app/command_line.hpp"

#include "app/logger.hpp"
#include "app/options.hpp"
#include "app/run_receiver.hpp"
#include "app/sdr_exception.hpp"

#include <rtl-sdr.h>

#include <boost/program_options/errors.hpp>

#include <iomanip>
#include <iostream>

namespace keelwave::app {

namespace po = boost::program_options;

void listDevices(std::ostream& out) {
    const int count = static_cast<int>(rtlsdr_get_device_count());
    if (count < 1) {
        out << "No Available devices." << std::endl;
        return;
    }
    out << "Available Devices:" << std::endl;
    for (int index = 0; index < count; ++index) {
        const char* name = rtlsdr_get_device_name(static_cast<uint32_t>(index));
        if (name == nullptr) {
            throw SdrException("rtlsdr_get_device_name()");
        }
        out << std::setw(2) << std::setfill(' ') << index << ": " << name << std::endl;
    }
}

int runCommandLine(int argc, char** argv) {
    Logger::instance().setConsole(true, Logger::INFO);
    Logger::instance().log(Logger::INFO, versionBanner);

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
            listDevices(std::cout);
        } catch (const SdrException& error) {
            std::cerr << "Error: " << error.what() << std::endl;
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
