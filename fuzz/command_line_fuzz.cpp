// The program's option parsing (parseOptions: the options description and its checks) fed
// arbitrary command lines. Nothing is started: no receiver, no tuner, no output.
//
// Input: the words after the program name, separated by NUL bytes (at most 64 words).
//
// Invariant: the parse either fails with an option error (the program prints "Error: ..." and
// exits with 1) or gives a map in which every option reads with the type the run sequence
// reads it with, the gain is finite and fits the tuner call (tenths of a dB in an int), and a
// recording as input comes without tuner settings. Any other exception is a fault.

#include "app/options.hpp"
#include "app/udp_address.hpp"
#include "fuzz/invariant.hpp"

#include <boost/any.hpp>
#include <boost/program_options/errors.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace po = boost::program_options;

namespace {

constexpr std::size_t maxWords = 64;
constexpr const char* programName = "keelwave";
constexpr float intLimit = 2147483648.0f;  // 2^31: the tuner takes the gain in tenths, as int

std::vector<std::string> splitWords(const uint8_t* data, std::size_t size) {
    std::vector<std::string> words;
    if (size == 0) {
        return words;
    }
    words.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            words.back().push_back(static_cast<char>(data[i]));
        } else if (words.size() < maxWords) {
            words.emplace_back();
        } else {
            break;
        }
    }
    return words;
}

void checkOptions(const po::variables_map& options) {
    if (options.count("device-index")) {
        static_cast<void>(options["device-index"].as<unsigned int>());
    }
    if (options.count("net")) {
        static_cast<void>(options["net"].as<unsigned int>());
    }
    if (options.count("freq-correction")) {
        static_cast<void>(options["freq-correction"].as<int>());
    }
    if (options.count("udp")) {
        // Whatever the text, the address parser must give a clear answer.
        const UdpAddress address = parseUdpAddress(options["udp"].as<std::string>());
        if (address.status == UdpAddress::Status::Valid &&
            (address.port < 1 || address.port > 65535)) {
            invariantBroken("valid udp address with port " + std::to_string(address.port));
        }
    }
    if (options.count("gain")) {
        const float gain = options["gain"].as<float>();
        const float tenths = std::floor(gain * 10.0f);
        if (!std::isfinite(gain) || tenths < -intLimit || tenths >= intLimit) {
            invariantBroken("gain " + std::to_string(gain) + " passed the parser");
        }
    }
    if (options.count("input")) {
        static_cast<void>(options["input"].as<std::string>());
        for (const char* tunerOption : {"device-index", "gain", "freq-correction", "agc"}) {
            if (options.count(tunerOption)) {
                invariantBroken(std::string("--input accepted with --") + tunerOption);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<std::string> words = splitWords(data, size);
    std::vector<const char*> argv{programName};
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);  // argv[argc] is null, as the system passes it
    const int argc = static_cast<int>(argv.size() - 1);

    po::variables_map options;
    try {
        options = parseOptions(argc, argv.data());
    } catch (const po::error&) {
        return 0;  // "Error: ..." and exit status 1
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
