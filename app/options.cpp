#include "app/options.hpp"

#include "ais/chain_names.hpp"
#include "app/output_target.hpp"
#include "app/utc_time.hpp"

#include <boost/program_options/errors.hpp>
#include <boost/program_options/parsers.hpp>

#include <algorithm>
#include <cmath>
#include <string>

namespace keelwave::app {

namespace po = boost::program_options;

po::options_description makeOptionsDescription() {
    using ais::chainNames;
    const std::string decoderHelp =
        std::string("Decoding chain: ") + chainNames[0] + " (default) or " + chainNames[1];
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
        ("udp", po::value<std::vector<std::string>>()->composing(),
            "UDP server address. Format: address:port, repeatable (default: off)")
        ("no-console", "Disable logging on console (default: on)")
        ("verbose", "Verbose output signal level")
        ("input,r", po::value<std::string>(), "Read raw I/Q from a file instead of the tuner "
            "(unsigned 8-bit, 288000 samples/s, centred at 162 MHz; - reads standard input)")
        ("decoder", po::value<std::string>(), decoderHelp.c_str())
        ("realtime", "Replay --input at the pace it was recorded")
        ("output", po::value<std::vector<std::string>>()->composing(),
            "Also send the messages to KIND:ADDRESS[,format=FORMAT], repeatable; KIND:ADDRESS "
            "is server:PORT, udp:HOST:PORT, tcp:HOST:PORT (connects out), file:PATH (- is "
            "standard output) or mqtt://[USER:PASSWORD@]HOST[:PORT][/TOPIC] (mqtts:// for TLS, "
            "then ca=FILE; qos=0|1; TOPIC from {station} {channel} {type} {mmsi}, default "
            "ais/{station}), FORMAT nmea (default), tagged or json (default for mqtt)")
        ("station", po::value<std::string>(), "Station name in tag blocks and JSON (default: keelwave)")
        ("start-time", po::value<std::string>(), "UTC time at which --input was recorded, ISO 8601, "
            "e.g. 2026-03-04T03:57:11.5Z")
        ("stats", po::value<unsigned int>(), "Log statistics every SECONDS (default: off)")
        ("rtl-tcp", po::value<std::string>(), "Receive from an rtl_tcp server instead of the "
            "tuner. Format: host:port")
        ("soapy", po::value<std::string>(), "Receive from a SoapySDR device instead of the tuner, "
            "e.g. driver=airspy")
        ("soapy-rate", po::value<unsigned int>(), "Sample rate of the --soapy device, samples/s "
            "(default: the lowest multiple of 288000 it offers)");
    // clang-format on
    return options;
}

namespace {

/// The option library's own "the argument ('value') for option '--name' is invalid".
po::invalid_option_value invalidValue(const std::string& name, const std::string& value) {
    po::invalid_option_value error(value);
    error.set_option_name(name);
    error.set_prefix(po::command_line_style::allow_long);
    return error;
}

/// A station name fits a tag block: 1 to 15 printable ASCII characters, none of those that
/// delimit a tag block or its fields.
bool isStationName(const std::string& name) {
    constexpr std::size_t longestStation = 15;
    return !name.empty() && name.size() <= longestStation &&
           std::all_of(name.begin(), name.end(), [](char character) {
               return character > ' ' && character < 0x7F &&
                      std::string(",*\\!").find(character) == std::string::npos;
           });
}

/// Refuses a gain the tuner call cannot take (it is passed as floor(gain × 10) tenths of a dB in
/// an int, so NaN, infinities and values beyond the int range would convert undefinedly), a
/// decoding chain that does not exist, an output that cannot be, a station name that does not
/// fit a tag block, a start time that is none, and statistics every 0 s.
void rejectUnusableValues(const po::parsed_options& parsed) {
    for (const po::option& given : parsed.options) {
        if (given.value.empty()) {
            continue;
        }
        const std::string& value = given.value.front();
        const float gain = std::strtof(value.c_str(), nullptr);
        const float tenths = std::floor(gain * 10.0f);
        const float intLimit = 2147483648.0f;  // 2^31, exactly representable
        if (given.string_key == "gain" &&
            (!std::isfinite(gain) || tenths < -intLimit || tenths >= intLimit)) {
            throw invalidValue("gain", value);
        }
        const std::string& key = given.string_key;
        if ((key == "decoder" && !ais::chainNamed(value)) ||
            (key == "station" && !isStationName(value)) ||
            (key == "start-time" && !parseUtcTime(value)) || (key == "stats" && value == "0")) {
            throw invalidValue(key, value);
        }
        if (key == "output") {
            parseOutputTarget(value);
        }
    }
}

/// Refuses tuner settings together with a recording as input, and a pace or a start time for a
/// recording without one: they could not take effect.
void rejectTunerOptionsWithInput(const po::variables_map& options) {
    if (!options.count("input")) {
        for (const char* recordingOption : {"realtime", "start-time"}) {
            if (options.count(recordingOption)) {
                throw po::error(std::string("option '--") + recordingOption +
                                "' requires option '--input'");
            }
        }
        return;
    }
    for (const char* tunerOption : {"device-index", "gain", "freq-correction", "agc"}) {
        if (options.count(tunerOption)) {
            throw po::error(std::string("conflicting options '--input' and '--") + tunerOption +
                            "'");
        }
    }
}

/// Refuses two sources at once, and the local tuner's index with another source.
void rejectConflictingSources(const po::variables_map& options) {
    constexpr const char* conflicts[][2] = {{"input", "rtl-tcp"},
                                            {"input", "soapy"},
                                            {"rtl-tcp", "soapy"},
                                            {"rtl-tcp", "device-index"},
                                            {"soapy", "device-index"}};
    for (const auto& [first, second] : conflicts) {
        if (options.count(first) && options.count(second)) {
            throw po::error(std::string("conflicting options '--") + first + "' and '--" + second +
                            "'");
        }
    }
    if (options.count("soapy-rate") && !options.count("soapy")) {
        throw po::error("option '--soapy-rate' requires option '--soapy'");
    }
}

}  // namespace

po::variables_map parseOptions(int argc, const char* const argv[]) {
    po::variables_map options;
    // The parsed options point into the description, which must outlive store().
    const po::options_description description = makeOptionsDescription();
    const po::parsed_options parsed = po::parse_command_line(argc, argv, description);
    po::store(parsed, options);
    po::notify(options);
    rejectUnusableValues(parsed);
    rejectTunerOptionsWithInput(options);
    rejectConflictingSources(options);
    return options;
}

}  // namespace keelwave::app
