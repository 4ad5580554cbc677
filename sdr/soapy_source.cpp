#include "sdr/soapy_source.hpp"

#include "base/logger.hpp"
#include "base/startup_error.hpp"
#include "base/tuner_stream.hpp"
#include "sdr/device_rate.hpp"
#include "sdr/sdr_device.hpp"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Logger.hpp>

#include <cmath>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <utility>

namespace keelwave::sdr {

namespace {

constexpr std::size_t receiveChannel = 0;
/// Pairs asked of each read: 57 ms at 288000 pairs/s, 5 ms at 3.2 MHz.
constexpr uint32_t readPairs = 16384;
/// How long a read waits for samples before the thread looks at its stop flag again.
constexpr long readTimeoutMicroseconds = 100000;
/// Steps of the 8-bit stream at a device's full scale.
constexpr double stepsAtFullScale = 128.0;
/// Samples the driver lost are logged at most this often, as the drop watch does.
constexpr std::chrono::seconds overflowReportPeriod{60};

/// SoapySDR's own messages to the log: its warnings and errors; the rest would only chatter.
void logSoapyMessage(const SoapySDRLogLevel level, const char* message) {
    if (level <= SOAPY_SDR_ERROR) {
        base::Logger::instance().log(base::Logger::ERROR, std::string("SoapySDR: ") + message);
    } else if (level <= SOAPY_SDR_WARNING) {
        base::Logger::instance().log(base::Logger::WARNING, std::string("SoapySDR: ") + message);
    }
}

void routeSoapyMessages() {
    SoapySDR::registerLogHandler(&logSoapyMessage);
    SoapySDR::setLogLevel(SOAPY_SDR_WARNING);
}

struct NativeFormat {
    const char* name;
    DeviceFormat format;
    std::size_t bytesPerPair;
};
constexpr NativeFormat nativeFormats[] = {{SOAPY_SDR_CS8, DeviceFormat::cs8, 2},
                                          {SOAPY_SDR_CS16, DeviceFormat::cs16, 4},
                                          {SOAPY_SDR_CF32, DeviceFormat::cf32, 8}};

}  // namespace

SoapySource::SoapySource(std::string deviceArgs, TunerSettings tuner,
                         std::optional<uint32_t> pairsPerSecond)
    : SampleSource(tunerRingBlocks, base::tunerTransferBytes),
      args(std::move(deviceArgs)),
      settings(tuner),
      askedRate(pairsPerSecond) {}

SoapySource::~SoapySource() {
    stop();
    close();
}

void SoapySource::open() {
    routeSoapyMessages();
    const auto failure = [this](const std::string& why) {
        return base::StartupError("SoapySDR " + args + ": " + why);
    };
    try {
        device = SoapySDR::Device::make(args);
        if (device == nullptr) {
            throw failure("no such device");
        }
        pickRate();
        tune();
        setUpStream();
    } catch (const base::StartupError&) {
        close();
        throw;
    } catch (const std::exception& error) {
        close();
        throw failure(error.what());
    }
}

void SoapySource::pickRate() {
    std::vector<RateRange> ranges;
    for (const SoapySDR::Range& range : device->getSampleRateRange(SOAPY_SDR_RX, receiveChannel)) {
        ranges.push_back({range.minimum(), range.maximum()});
    }
    const std::optional<uint32_t> rate = askedRate ? askedRate : chooseDeviceRate(ranges);
    if (!rate) {
        throw base::StartupError("SoapySDR " + args +
                                 ": no sample rate it offers can be taken to " +
                                 std::to_string(base::tunerPairsPerSecond) + " samples/s");
    }
    if (!offersRate(ranges, *rate) || !resamplingRatio(*rate, base::tunerPairsPerSecond)) {
        throw base::StartupError("SoapySDR " + args + ": cannot take " + std::to_string(*rate) +
                                 " samples/s to " + std::to_string(base::tunerPairsPerSecond));
    }
    device->setSampleRate(SOAPY_SDR_RX, receiveChannel, *rate);
    // The device may round the rate; the resampler is built for the one it runs at.
    const double actual = device->getSampleRate(SOAPY_SDR_RX, receiveChannel);
    deviceRate = static_cast<uint32_t>(std::lround(actual));
    if (std::fabs(actual - deviceRate) > 0.5 ||
        !resamplingRatio(deviceRate, base::tunerPairsPerSecond)) {
        throw base::StartupError("SoapySDR " + args + ": runs at " + std::to_string(actual) +
                                 " samples/s, which cannot be taken to " +
                                 std::to_string(base::tunerPairsPerSecond));
    }
    design = designResampler(deviceRate, base::tunerPairsPerSecond);
    resetResampler(resampler, design, readPairs);
}

void SoapySource::tune() {
    device->setFrequency(SOAPY_SDR_RX, receiveChannel, base::tunerCentreHz);
    if (settings.correctionPpm) {
        if (!device->hasFrequencyCorrection(SOAPY_SDR_RX, receiveChannel)) {
            throw base::StartupError("SoapySDR " + args + ": has no frequency correction");
        }
        device->setFrequencyCorrection(SOAPY_SDR_RX, receiveChannel, *settings.correctionPpm);
    }
    const bool automatic = !settings.gainDb;
    if (device->hasGainMode(SOAPY_SDR_RX, receiveChannel)) {
        device->setGainMode(SOAPY_SDR_RX, receiveChannel, automatic);
    }
    if (settings.gainDb) {
        device->setGain(SOAPY_SDR_RX, receiveChannel, *settings.gainDb);
    }

    std::ostringstream report;
    report << "SoapySDR " << args << ": " << device->getDriverKey() << " "
           << device->getHardwareKey() << "\nSample rate: " << deviceRate << " samples/s";
    const ResamplingRatio ratio = design.ratio;
    if (ratio.interpolation == 1 && ratio.decimation > 1) {
        report << ", decimated by " << ratio.decimation;
    } else if (ratio.interpolation > 1) {
        report << ", resampled by " << ratio.interpolation << "/" << ratio.decimation;
    }
    report << "\nFreq: " << std::fixed << std::setprecision(3)
           << inMegahertz(device->getFrequency(SOAPY_SDR_RX, receiveChannel)) << " MHz\n";
    reportSettings(report, settings);
    std::cerr << report.str() << std::flush;
}

void SoapySource::setUpStream() {
    double fullScale = 1.0;
    const std::string native =
        device->getNativeStreamFormat(SOAPY_SDR_RX, receiveChannel, fullScale);
    // A format of its own that we do not read: SoapySDR converts to floats at full scale 1.
    const NativeFormat* chosen = &nativeFormats[std::size(nativeFormats) - 1];
    for (const NativeFormat& known : nativeFormats) {
        if (native == known.name) {
            chosen = &known;
        }
    }
    if (native != chosen->name || fullScale <= 0.0) {
        fullScale = 1.0;
    }
    format = chosen->format;
    stepsPerUnit = static_cast<float>(stepsAtFullScale / fullScale);
    stream = device->setupStream(SOAPY_SDR_RX, chosen->name, {receiveChannel});
    raw.resize(readPairs * chosen->bytesPerPair);
    steps.resize(2 * readPairs);
    resampled.resize(2 * static_cast<std::size_t>(maxResampledPairs(design, readPairs)));
}

void SoapySource::startPublishing() {
    assembler.emplace(*blocks(), base::tunerTransferBytes);
    if (device->activateStream(stream) != 0) {
        throw base::StartupError("SoapySDR " + args + ": cannot start its stream");
    }
    active = true;
    thread = std::thread(&SoapySource::runStream, this);
}

std::optional<std::string> SoapySource::stopPublishing() {
    stopping = true;
    if (thread.joinable()) {
        thread.join();
    }
    if (active) {
        device->deactivateStream(stream);
        active = false;
    }
    return std::nullopt;
}

void SoapySource::runStream() {
    try {
        readToStop();
    } catch (...) {
        // The device cannot go on: the run hears of it and ends.
        reportEnd(std::current_exception());
    }
}

void SoapySource::readToStop() {
    while (!stopping) {
        void* buffers[] = {raw.data()};
        int flags = 0;
        long long timeNs = 0;
        const int got =
            device->readStream(stream, buffers, readPairs, flags, timeNs, readTimeoutMicroseconds);
        if (got > 0) {
            publish(static_cast<uint32_t>(got));
        } else if (got == SOAPY_SDR_OVERFLOW) {
            // The driver lost samples: what came before and what comes after do not join.
            assembler->breakStream();
            resetResampler(resampler, design, readPairs);
            reportOverflow();
        } else if (got != SOAPY_SDR_TIMEOUT && got != 0) {
            // A stalled device times out, which the run's stall watch sees; this is worse.
            throw std::runtime_error("SoapySDR " + args +
                                     ": readStream(): " + SoapySDR::errToStr(got));
        }
    }
}

void SoapySource::publish(uint32_t pairs) {
    toSteps(format, raw.data(), pairs, stepsPerUnit, steps.data());
    const uint32_t outputs =
        resampleBlock(design, resampler, steps.data(), pairs, resampled.data());
    for (uint32_t done = 0; done < outputs;) {
        const uint32_t fit = std::min(outputs - done, assembler->spaceBytes() / 2);
        toTunerBytes(resampled.data() + 2 * static_cast<std::size_t>(done), fit,
                     assembler->space());
        assembler->commit(2 * fit);
        done += fit;
    }
}

void SoapySource::reportOverflow() {
    ++overflows;
    const auto now = std::chrono::steady_clock::now();
    if (overflows > 1 && now - lastOverflowReport < overflowReportPeriod) {
        return;
    }
    lastOverflowReport = now;
    base::Logger::instance().log(base::Logger::WARNING,
                                 "SoapySDR " + args + ": the driver lost samples, " +
                                     std::to_string(overflows) +
                                     " times in all: the stream thread could not keep up");
}

void SoapySource::close() {
    if (device == nullptr) {
        return;
    }
    if (stream != nullptr) {
        device->closeStream(stream);
        stream = nullptr;
    }
    SoapySDR::Device::unmake(device);
    device = nullptr;
}

void listSoapyDevices(std::ostream& out) {
    routeSoapyMessages();
    const SoapySDR::KwargsList found = SoapySDR::Device::enumerate();
    if (found.empty()) {
        out << "No SoapySDR devices." << std::endl;
        return;
    }
    out << "SoapySDR devices:" << std::endl;
    for (std::size_t index = 0; index < found.size(); ++index) {
        const SoapySDR::Kwargs& device = found[index];
        const auto value = [&device](const std::string& key) {
            const auto entry = device.find(key);
            return entry != device.end() ? entry->second : std::string();
        };
        out << std::setw(2) << std::setfill(' ') << index << ": driver=" << value("driver");
        if (!value("serial").empty()) {
            out << ",serial=" << value("serial");
        }
        if (!value("label").empty()) {
            out << " (" << value("label") << ")";
        }
        out << std::endl;
    }
}

}  // namespace keelwave::sdr
