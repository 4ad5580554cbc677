#include "app/run_receiver.hpp"

#include "ais/ais_decoder.hpp"
#include "app/receiver_outputs.hpp"
#include "app/sdr_exception.hpp"
#include "sdr/file_source.hpp"
#include "sdr/input_error.hpp"
#include "sdr/sdr_channel.hpp"
#include "sdr/sdr_device.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace po = boost::program_options;

namespace {

/// The two AIS channels, 25 kHz either side of the tuner centre.
struct ChannelPlan {
    char letter;
    uint32_t frequency;  // Hz
};
constexpr ChannelPlan aisChannels[] = {{'A', 161975000}, {'B', 162025000}};

/// How long the end of a recording waits for the TCP clients and the UDP destination to take
/// the last sentences before the run stops anyway.
constexpr std::chrono::milliseconds finalDeliveryLimit{5000};

/// A tuner whose read could not be cancelled. Its capture thread still runs inside librtlsdr
/// and uses the device, so the device is never destroyed; it is kept reachable here until the
/// process ends, which also tells leak checkers that it is abandoned on purpose.
SdrDevice* abandonedDevice = nullptr;

void reportError(const std::string& message) {
    std::cerr << "Error: " << message << std::endl;
}

/// Builds the decoder and channel of each AIS channel and hands them to the source.
template <class Source>
void addAisChannels(Source& source, const po::variables_map& options,
                    const ReceiverOutputs& outputs) {
    const bool console = !options.count("no-console");
    const bool verbose = options.count("verbose") > 0;
    for (const ChannelPlan& plan : aisChannels) {
        auto decoder = std::make_unique<AisDecoder>(plan.letter, verbose);
        decoder->frequency = plan.frequency;
        decoder->networkServer = outputs.server();
        decoder->udpClient = outputs.udp();
        decoder->consoleOutput = console;
        source.addChannel(
            std::make_unique<SdrChannel>(static_cast<int32_t>(plan.frequency), std::move(decoder)));
    }
}

/// Stops a source whose threads have run. Only the tuner can fail here: a read it cannot
/// cancel leaves its capture thread running, and the device is then abandoned, not destroyed.
bool stopSource(std::unique_ptr<SdrDevice>& device) {
    try {
        device->stop();
    } catch (const SdrException& error) {
        abandonedDevice = device.release();
        reportError(error.what());
        return false;
    }
    return true;
}

bool stopSource(std::unique_ptr<FileSource>& file) {
    file->stop();
    return true;
}

/// The text of a failure kept by a capture, reader or channel thread.
std::string describe(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown failure of a receiver thread";
    }
}

/// Runs a started source until SIGINT or SIGTERM, the failure of one of its threads or, for a
/// recording, its end; then stops everything in order. Returns the exit status.
template <class Source>
int runSource(boost::asio::io_service& io, std::unique_ptr<Source>& source,
              std::unique_ptr<boost::asio::signal_set>& signals) {
    // A failed thread ends the loop like a signal; it is reported once everything has stopped.
    source->setFailureCallback([&io] { io.stop(); });
    source->start();
    std::optional<std::string> error;
    try {
        io.run();
    } catch (const std::exception& escaped) {
        // A handler's exception ends the loop; the run still stops in order.
        error = escaped.what();
    }
    const bool stopped = stopSource(source);
    signals.reset();
    if (!stopped) {
        return 1;
    }
    if (const std::exception_ptr failure = source->failure()) {
        error = describe(failure);
    }
    source.reset();
    if (error) {
        reportError(*error);
        return 1;
    }
    return 0;
}

int runTuner(boost::asio::io_service& io, const po::variables_map& options,
             ReceiverOutputs& outputs, std::unique_ptr<boost::asio::signal_set>& signals) {
    const unsigned int deviceIndex =
        options.count("device-index") ? options["device-index"].as<unsigned int>() : 0;
    auto device = std::make_unique<SdrDevice>(deviceIndex);
    try {
        device->open();
        addAisChannels(*device, options, outputs);
        std::optional<int32_t> correction;
        if (options.count("freq-correction")) {
            correction = options["freq-correction"].as<int>();
        }
        std::optional<float> gain;
        if (options.count("gain")) {
            gain = options["gain"].as<float>();
        }
        device->configure(correction, gain);
    } catch (const SdrException& error) {
        device.reset();
        reportError(error.what());
        return 1;
    }
    return runSource(io, device, signals);
}

int runRecording(boost::asio::io_service& io, const po::variables_map& options,
                 ReceiverOutputs& outputs, std::unique_ptr<boost::asio::signal_set>& signals) {
    auto file = std::make_unique<FileSource>(options["input"].as<std::string>());
    try {
        file->open();
    } catch (const InputError& error) {
        file.reset();
        reportError(error.what());
        return 1;
    }
    addAisChannels(*file, options, outputs);
    // Every sentence has been dispatched by now; the run ends once the network has them too.
    file->setFinishedCallback([&io, &outputs] {
        boost::asio::post(io, [&outputs] { outputs.stopWhenDelivered(finalDeliveryLimit); });
    });
    return runSource(io, file, signals);
}

}  // namespace

int runReceiver(po::variables_map& options) {
    boost::asio::io_service io;
    // SIGINT and SIGTERM are caught from the start, so that one arriving while the tuner is
    // still being set up also ends the run in order, with status 0, once the loop runs.
    auto signals = std::make_unique<boost::asio::signal_set>(io, SIGINT, SIGTERM);
    signals->async_wait([&io](const boost::system::error_code&, int) { io.stop(); });

    ReceiverOutputs outputs(io);
    if (!outputs.enableServer(options) || !outputs.enableUdp(options)) {
        return 1;
    }
    return options.count("input") ? runRecording(io, options, outputs, signals)
                                  : runTuner(io, options, outputs, signals);
}
