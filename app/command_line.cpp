#include "app/command_line.hpp"

#include "app/logger.hpp"
#include "app/run_receiver.hpp"
#include "app/sdr_exception.hpp"

#include <rtl-sdr.h>

#include <boost/program_options/errors.hpp>
#include <boost/program_options/parsers.hpp>
#include <boost/program_options/variables_map.hpp>

#include <iomanip>
#include <iostream>
#include <string>

namespace po = boost::program_options;

po::options_description makeOptionsDescription() {
    po::options_description options("Program options");
    // clang-format off
    options.add_options()
        ("help,h", "This help message")
        ("device-list", "List Available devices")
        ("device-index", po::value<unsigned int>(), "Select RTL device (default: 0)")
        ("gain", po::value<float>(), "Set gain in Receiver, dB (default: Auto)")
        ("agc", "Enable Automatic Gain Control in RTL (default: off)")
        ("freq-correction", po::value<int>(), "Set frequency correction, ppm (default: 0)")
        ("net", po::value<unsigned int>(), "Enable network-server on port (default: off)")
        ("udp", po::value<std::string>(), "UDP server address. Format: address:port (default: off)")
        ("no-console", "Disable logging on console (default: on)")
        ("verbose", "Verbose output signal level");
    // clang-format on
    return options;
}

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
        const po::options_description description = makeOptionsDescription();
        po::store(po::parse_command_line(argc, argv, description), options);
        po::notify(options);
        if (options.count("help") || argc == 1) {
            std::cout << description << std::endl;
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
    return runReceiver(options);
}
