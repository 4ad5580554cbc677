#include "app/run_receiver.hpp"

#include "app/decoding_chains.hpp"
#include "app/drop_watch.hpp"
#include "app/logger.hpp"
#include "app/receiver_outputs.hpp"
#include "app/sdr_exception.hpp"
#include "net/sentence_dispatch.hpp"
#include "sdr/file_source.hpp"
#include "sdr/input_error.hpp"
#include "sdr/sdr_device.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace keelwave::app {

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

void reportError(const std::string& message) {
    std::cerr << "Error: " << message << std::endl;
}

/// The tuner, opened and configured (the tuner report goes to standard error), or nothing
/// after reporting why not.
std::unique_ptr<sdr::SampleSource> openTuner(const po::variables_map& options) {
    const unsigned int deviceIndex =
        options.count("device-index") ? options["device-index"].as<unsigned int>() : 0;
    auto device = std::make_unique<sdr::SdrDevice>(deviceIndex);
    try {
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
    } catch (const SdrException& error) {
        device.reset();  // closes the tuner before the message
        reportError(error.what());
        return nullptr;
    }
    return device;
}

/// The recording of `input`, opened, or nothing after reporting why not.
std::unique_ptr<sdr::SampleSource> openRecording(const po::variables_map& options) {
    auto file = std::make_unique<sdr::FileSource>(options["input"].as<std::string>(),
                                                  options.count("realtime") > 0);
    try {
        file->open();
    } catch (const sdr::InputError& error) {
        reportError(error.what());
        return nullptr;
    }
    return file;
}

/// Each AIS channel with the chain `--decoder` names, handing its sentences to `dispatch`.
void addAisChannels(sdr::SampleSource& source, const po::variables_map& options,
                    net::SentenceDispatch& dispatch) {
    const bool verbose = options.count("verbose") > 0;
    const std::string chain =
        options.count("decoder") ? options["decoder"].as<std::string>() : "classic";
    const ais::SentenceSink sink{&net::dispatchSentence, &dispatch};
    for (const ChannelPlan& plan : aisChannels) {
        source.addChannel(std::make_unique<sdr::SdrChannel>(
            static_cast<int32_t>(plan.frequency),
            makeDecodingChain(chain, plan.letter, plan.frequency, verbose, sink)));
    }
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

/// From the outputs to the stop: the whole run but the console's last lines.
int runUntilStopped(po::variables_map& options) {
    boost::asio::io_service io;
    // SIGINT and SIGTERM are caught from the start, so that one arriving while the tuner is
    // still being set up also ends the run in order, with status 0, once the loop runs.
    auto signals = std::make_unique<boost::asio::signal_set>(io, SIGINT, SIGTERM);
    signals->async_wait([&io](const boost::system::error_code&, int) {
        Logger::instance().stopWaitingForConsole();
        io.stop();
    });

    ReceiverOutputs outputs(io);
    if (!outputs.enableServer(options) || !outputs.enableUdp(options)) {
        return 1;
    }
    net::SentenceDispatch dispatch{outputs.server(), outputs.udp(), !options.count("no-console")};
    std::unique_ptr<sdr::SampleSource> source =
        options.count("input") ? openRecording(options) : openTuner(options);
    if (!source) {
        return 1;
    }
    addAisChannels(*source, options, dispatch);
    // A source ends by itself when one of its threads fails, or when a recording has been
    // decoded to its end: then the run ends at once, or once the network has every sentence.
    sdr::SampleSource& ending = *source;
    source->setEndHandler([&io, &outputs, &ending] {
        boost::asio::post(io, [&io, &outputs, &ending] {
            if (ending.failure()) {
                Logger::instance().stopWaitingForConsole();
                io.stop();
            } else {
                outputs.stopWhenDelivered(finalDeliveryLimit);
            }
        });
    });
    DropWatch drops(io, *source);
    source->start();

    std::optional<std::string> error;
    try {
        io.run();
    } catch (const std::exception& escaped) {
        // A handler's exception ends the loop; the run still stops in order.
        error = escaped.what();
        Logger::instance().stopWaitingForConsole();
    }
    const std::optional<std::string> refused = source->stop();
    signals.reset();
    drops.reportEnd();
    if (refused) {
        reportError(*refused);
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

}  // namespace

int runReceiver(po::variables_map& options) {
    // From here on the console is written by a thread of its own, so that a console nobody
    // reads holds up no caller; with a recording as input nothing may be dropped on the way.
    Logger::instance().startConsoleWriter(options.count("input") > 0);
    const int status = runUntilStopped(options);
    // After the signals have their default action back: a console that never drains cannot
    // keep a signal from ending the process. A log that could not be written fails the run.
    return Logger::instance().drainConsole() ? status : 1;
}

}  // namespace keelwave::app
