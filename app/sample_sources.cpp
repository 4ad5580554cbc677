#include "app/sample_sources.hpp"

#include "sdr/file_source.hpp"
#include "sdr/sdr_device.hpp"

#include <optional>
#include <string>

namespace keelwave::app {

namespace po = boost::program_options;

namespace {

/// The tuner, opened and configured; the tuner report goes to standard error.
std::unique_ptr<sdr::SampleSource> openTuner(const po::variables_map& options) {
    const unsigned int deviceIndex =
        options.count("device-index") ? options["device-index"].as<unsigned int>() : 0;
    auto device = std::make_unique<sdr::SdrDevice>(deviceIndex);
    device->open();
    std::optional<int32_t> correction;
    if (options.count("freq-correction")) {
        correction = options["freq-correction"].as<int>();
    }
    std::optional<float> gain;
    if (options.count("gain")) {
        gain = options["gain"].as<float>();
    }
    device->configure(correction, gain);
    return device;
}

/// The recording of `input`, opened.
std::unique_ptr<sdr::SampleSource> openRecording(const po::variables_map& options) {
    auto file = std::make_unique<sdr::FileSource>(options["input"].as<std::string>(),
                                                  options.count("realtime") > 0);
    file->open();
    return file;
}

}  // namespace

std::unique_ptr<sdr::SampleSource> openSampleSource(const po::variables_map& options) {
    return sourceMayWait(options) ? openRecording(options) : openTuner(options);
}

bool sourceMayWait(const po::variables_map& options) {
    return options.count("input") > 0;
}

}  // namespace keelwave::app
