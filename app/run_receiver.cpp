#include "app/run_receiver.hpp"

#include "app/arrival_clock.hpp"
#include "app/decoding_chains.hpp"
#include "app/drop_watch.hpp"
#include "app/message_hand_off.hpp"
#include "app/receiver_outputs.hpp"
#include "app/sample_sources.hpp"
#include "app/stall_watch.hpp"
#include "app/statistics.hpp"
#include "app/utc_time.hpp"
#include "base/logger.hpp"
#include "base/startup_error.hpp"
#include "base/tuner_stream.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace keelwave::app {

namespace po = boost::program_options;

namespace {

/// How long the end of a recording waits for the TCP clients and the UDP destination to take
/// the last sentences before the run stops anyway.
constexpr std::chrono::milliseconds finalDeliveryLimit{5000};

/// Messages that may wait between the channels and the outputs: some ten seconds of a busy
/// harbour, a quarter of a megabyte.
constexpr std::size_t handOffMessages = 1024;

void reportError(const std::string& message) {
    std::cerr << "Error: " << message << std::endl;
}

/// Each AIS channel with the chain `--decoder` names, handing its messages to `handOff`; the
/// chains by their channel letter.
std::vector<std::pair<char, const ais::DecodingChain*>> addAisChannels(
    sdr::SampleSource& source, const po::variables_map& options, MessageHandOff& handOff) {
    const ais::ChainKind kind = options.count("decoder")
                                    ? *ais::chainNamed(options["decoder"].as<std::string>())
                                    : ais::ChainKind::classic;
    const ChainOutputs outputs{handOff.sink(), &MessageHandOff::reportLevel, &handOff,
                               options.count("verbose") > 0};
    std::vector<std::pair<char, const ais::DecodingChain*>> chains;
    for (const base::AisChannel& channel : base::aisChannels) {
        std::unique_ptr<ais::DecodingChain> chain = makeDecodingChain(kind, channel, outputs);
        chains.emplace_back(channel.letter, chain.get());
        source.addChannel(std::make_unique<sdr::ChannelThread>(channel.offsetHz, std::move(chain)));
    }
    return chains;
}

/// The statistics `--stats` asks for, counting every message the hand-off delivers; nothing
/// without it.
std::unique_ptr<Statistics> watchStatistics(
    boost::asio::io_context& io, const po::variables_map& options,
    std::vector<std::pair<char, const ais::DecodingChain*>> chains, sdr::SampleSource& source,
    MessageHandOff& handOff, const ReceiverOutputs& outputs) {
    if (!options.count("stats")) {
        return nullptr;
    }
    auto statistics = std::make_unique<Statistics>(
        io,
        Statistics::Sources{std::move(chains), [&source] { return source.droppedBlocks(); },
                            [&handOff](char channel) { return handOff.droppedMessages(channel); },
                            [&outputs] { return outputs.counts(); }});
    handOff.observe(
        [counter = statistics.get()](const ais::AisMessage& message) { counter->count(message); });
    statistics->logEvery(std::chrono::seconds(options["stats"].as<unsigned int>()));
    return statistics;
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
    boost::asio::io_context io;
    // SIGINT and SIGTERM are caught from the start, so that one arriving while the tuner is
    // still being set up also ends the run in order, with status 0, once the loop runs.
    auto signals = std::make_unique<boost::asio::signal_set>(io, SIGINT, SIGTERM);
    signals->async_wait([&io](const boost::system::error_code&, int) {
        base::Logger::instance().stopWaitingForConsole();
        io.stop();
    });

    const bool recording = sourceMayWait(options);
    ArrivalClock clock(options.count("start-time")
                           ? parseUtcTime(options["start-time"].as<std::string>())
                           : std::nullopt);
    format::FormatContext formatContext;
    formatContext.clock = &clock;
    if (options.count("station")) {
        formatContext.station = options["station"].as<std::string>();
    }
    ReceiverOutputs outputs(io);
    outputs.open(options, recording, formatContext);
    MessageHandOff handOff(io, handOffMessages, recording);
    outputs.connect(handOff);
    std::unique_ptr<sdr::SampleSource> source = openSampleSource(options);
    clock.follow(*source);
    const std::unique_ptr<Statistics> statistics = watchStatistics(
        io, options, addAisChannels(*source, options, handOff), *source, handOff, outputs);
    // A source ends by itself when one of its threads fails, or when a recording has been
    // decoded to its end: then the run ends at once, or once the outputs have every message.
    sdr::SampleSource& ending = *source;
    source->setEndHandler([&io, &outputs, &handOff, &ending] {
        boost::asio::post(io, [&io, &outputs, &handOff, &ending] {
            if (ending.failure()) {
                base::Logger::instance().stopWaitingForConsole();
                io.stop();
            } else {
                outputs.stopWhenDelivered(handOff, finalDeliveryLimit);
            }
        });
    });
    DropWatch drops(io, {{[&ending] { return ending.droppedBlocks(); }, "raw blocks",
                          "the channels could not keep up"},
                         {[&handOff] { return handOff.droppedMessages(); }, "messages",
                          "the outputs could not keep up"}});
    // A tuner that stops delivering fails the run as a failed capture does.
    std::optional<std::string> error;
    std::optional<StallWatch> stalls;
    if (sourceStallEndsRun(options)) {
        stalls.emplace(
            io, [&ending] { return ending.deliveredBlocks(); },
            [&io, &error](const std::string& why) {
                error = why;
                base::Logger::instance().stopWaitingForConsole();
                io.stop();
            });
    }
    source->start();

    try {
        io.run();
    } catch (const std::exception& escaped) {
        // A handler's exception ends the loop; the run still stops in order.
        error = escaped.what();
        base::Logger::instance().stopWaitingForConsole();
    }
    // Nothing drains the hand-off any more: a channel waiting for room must not wait for ever.
    handOff.halt();
    const std::optional<std::string> refused = source->stop();
    signals.reset();
    drops.reportEnd();
    if (statistics && recording) {
        statistics->logWholeRun();
    }
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
    base::Logger::instance().startConsoleWriter(sourceMayWait(options));
    int status = 1;
    try {
        status = runUntilStopped(options);
    } catch (const base::StartupError& refused) {
        // Everything built before the failure has been unwound, a device closed among it.
        std::cerr << refused.line() << std::endl;
    } catch (const std::exception& failed) {
        // What the run cannot handle itself: no thread, no signal handling, no socket.
        reportError(failed.what());
    }
    // After the signals have their default action back: a console that never drains cannot
    // keep a signal from ending the process. A log that could not be written fails the run.
    return base::Logger::instance().drainConsole() ? status : 1;
}

}  // namespace keelwave::app
