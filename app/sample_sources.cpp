#include "app/sample_sources.hpp"

#include "base/startup_error.hpp"
#include "sdr/file_source.hpp"
#include "sdr/rtl_tcp_source.hpp"
#include "sdr/sdr_device.hpp"
#include "sdr/tuner_settings.hpp"
#ifdef KEELWAVE_WITH_SOAPYSDR
#include "sdr/soapy_source.hpp"
#endif

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace keelwave::app {

namespace po = boost::program_options;

namespace {

constexpr unsigned long highestServerPort = 65535;

sdr::TunerSettings tunerSettings(const po::variables_map& options) {
    sdr::TunerSettings settings;
    if (options.count("freq-correction")) {
        settings.correctionPpm = options["freq-correction"].as<int>();
    }
    if (options.count("gain")) {
        settings.gainDb = options["gain"].as<float>();
    }
    return settings;
}

/// The tuner, opened and configured; the tuner report goes to standard error.
std::unique_ptr<sdr::SampleSource> openTuner(const po::variables_map& options) {
    const unsigned int deviceIndex =
        options.count("device-index") ? options["device-index"].as<unsigned int>() : 0;
    auto device = std::make_unique<sdr::SdrDevice>(deviceIndex);
    device->open();
    const sdr::TunerSettings settings = tunerSettings(options);
    device->configure(settings.correctionPpm, settings.gainDb);
    return device;
}

/// The recording of `input`, opened.
std::unique_ptr<sdr::SampleSource> openRecording(const po::variables_map& options) {
    auto file = std::make_unique<sdr::FileSource>(options["input"].as<std::string>(),
                                                  options.count("realtime") > 0);
    file->open();
    return file;
}

/// The rtl_tcp server of `rtl-tcp`, "host:port" or "[IPv6 address]:port"; connected once
/// the source starts.
std::unique_ptr<sdr::SampleSource> openRtlTcp(const po::variables_map& options) {
    const std::string text = options["rtl-tcp"].as<std::string>();
    const auto colon = text.rfind(':');
    std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    in6_addr ipv6;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        // Only an IPv6 address goes in brackets; a zone ("%eth0") may follow it.
        if (::inet_pton(AF_INET6, host.substr(0, host.find('%')).c_str(), &ipv6) != 1) {
            host.clear();
        }
    } else if (host.find_first_of("[]:") != std::string::npos) {
        host.clear();  // an IPv6 address must be in brackets, so that its port is clear
    }
    if (host.empty()) {
        throw base::StartupError::withLine("Invalid address in --rtl-tcp option " + text);
    }
    const std::string digits = text.substr(colon + 1);
    const unsigned long port =
        digits.find_first_not_of("0123456789") == std::string::npos && digits.size() <= 5
            ? std::strtoul(digits.c_str(), nullptr, 10)
            : 0;
    if (port < 1 || port > highestServerPort) {
        throw base::StartupError::withLine("Invalid port in --rtl-tcp option " + text);
    }
    return std::make_unique<sdr::RtlTcpSource>(host, static_cast<uint16_t>(port),
                                               tunerSettings(options));
}

/// The SoapySDR device of `soapy`, opened and configured; its report goes to standard error.
std::unique_ptr<sdr::SampleSource> openSoapy(const po::variables_map& options) {
#ifdef KEELWAVE_WITH_SOAPYSDR
    std::optional<uint32_t> rate;
    if (options.count("soapy-rate")) {
        rate = options["soapy-rate"].as<unsigned int>();
    }
    auto device = std::make_unique<sdr::SoapySource>(options["soapy"].as<std::string>(),
                                                     tunerSettings(options), rate);
    device->open();
    return device;
#else
    (void)options;
    throw base::StartupError("--soapy: this keelwave was built without SoapySDR");
#endif
}

/// One kind of source: the option that asks for it, and how the run treats it.
struct SourceKind {
    const char* option;  ///< none: the default, the local tuner
    std::unique_ptr<sdr::SampleSource> (*open)(const po::variables_map&);
    bool mayWait;       ///< it waits for the channels, so nothing after it may be dropped
    bool stallEndsRun;  ///< delivering nothing for long is a failure (rtl_tcp reconnects)
};

constexpr SourceKind sourceKinds[] = {
    {"input", openRecording, true, false},
    {"rtl-tcp", openRtlTcp, false, false},
    {"soapy", openSoapy, false, true},
    {nullptr, openTuner, false, true},
};

const SourceKind& chosenKind(const po::variables_map& options) {
    for (const SourceKind& kind : sourceKinds) {
        if (kind.option == nullptr || options.count(kind.option)) {
            return kind;
        }
    }
    return sourceKinds[std::size(sourceKinds) - 1];
}

}  // namespace

std::unique_ptr<sdr::SampleSource> openSampleSource(const po::variables_map& options) {
    return chosenKind(options).open(options);
}

bool sourceMayWait(const po::variables_map& options) {
    return chosenKind(options).mayWait;
}

bool sourceStallEndsRun(const po::variables_map& options) {
    return chosenKind(options).stallEndsRun;
}

}  // namespace keelwave::app
