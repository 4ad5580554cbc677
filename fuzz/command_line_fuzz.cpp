// The program's option parsing (parseOptions) fed arbitrary command lines; nothing is started.
//
// Input: the words after the program name, separated by NUL bytes (at most 64 words).
//
// Invariant: the parse fails with an option error (the program prints "Error: ..." and exits
// with 1), or gives a map whose every option reads with the type the run sequence reads it
// with, a finite gain that fits the tuner call (tenths of a dB in an int), a recording as input
// without tuner settings, and no recorded pace without a recording. Any other exception is a fault.
#include "app/options.hpp"
#include "fuzz/invariants.hpp"

#include <boost/any.hpp>
#include <boost/program_options/errors.hpp>

#include <cmath>

using namespace keelwave::app;

namespace po = boost::program_options;

namespace {

constexpr std::size_t maxWords = 64;

void checkOptions(const po::variables_map& options) {
    // As the run sequence reads them; a wrong type throws boost::bad_any_cast.
    for (const char* unsignedOption : {"device-index", "net"}) {
        static_cast<void>(options.count(unsignedOption) && options[unsignedOption].as<unsigned>());
    }
    static_cast<void>(options.count("freq-correction") && options["freq-correction"].as<int>());
    static_cast<void>(options.count("input") && !options["input"].as<std::string>().empty());
    static_cast<void>(options.count("udp") &&
                      options["udp"].as<std::vector<std::string>>().empty());
    if (options.count("gain")) {
        const float tenths = std::floor(options["gain"].as<float>() * 10.0f);
        if (!std::isfinite(tenths) || std::fabs(tenths) >= 2147483648.0f) {
            invariantBroken("a gain the tuner call cannot take passed the parser");
        }
    }
    if (options.count("realtime") && !options.count("input")) {
        invariantBroken("--realtime accepted without --input");
    }
    if (options.count("input")) {
        for (const char* tunerOption : {"device-index", "gain", "freq-correction", "agc"}) {
            if (options.count(tunerOption)) {
                invariantBroken(std::string("--input accepted with --") + tunerOption);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < size && words.size() <= maxWords; ++i) {
        if (words.empty() || data[i] == 0) {
            words.emplace_back();
        }
        if (data[i] != 0) {
            words.back().push_back(static_cast<char>(data[i]));
        }
    }
    std::vector<const char*> argv{"keelwave"};
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);  // argv[argc] is null, as the system passes it
    po::variables_map options;
    try {
        options = parseOptions(static_cast<int>(argv.size() - 1), argv.data());
    } catch (const po::error&) {
        return 0;
    } catch (const std::exception& error) {
        invariantBroken(std::string("parsing threw a non-option error: ") + error.what());
    }
    try {
        checkOptions(options);
    } catch (const boost::bad_any_cast& error) {
        invariantBroken(std::string("an option does not read with its type: ") + error.what());
    }
    return 0;
}
