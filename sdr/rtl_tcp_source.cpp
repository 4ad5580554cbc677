#include "sdr/rtl_tcp_source.hpp"

#include "base/logger.hpp"
#include "base/tuner_stream.hpp"
#include "sdr/sdr_device.hpp"

#include <boost/asio/buffer.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <utility>

namespace keelwave::sdr {

namespace {

using Clock = std::chrono::steady_clock;

/// An attempt or a stream without a byte for this long has failed: a server whose dongle
/// stalled, a network that lost the route, a host that drops the connection's packets.
constexpr std::chrono::seconds silenceLimit{5};
/// How often the silence is looked at: a stop never waits for it, so it may be short.
constexpr std::chrono::milliseconds silenceCheckPeriod{250};
constexpr std::chrono::seconds firstRetryDelay{1};
/// The longest wait between attempts: a server back after an outage is found within it.
constexpr std::chrono::seconds longestRetryDelay{30};
constexpr int32_t automaticGainCommand = 0;
constexpr int32_t manualGainCommand = 1;

}  // namespace

RtlTcpSource::RtlTcpSource(std::string serverHost, uint16_t serverPort, TunerSettings tuner)
    : SampleSource(tunerRingBlocks, base::tunerTransferBytes),
      host(std::move(serverHost)),
      port(serverPort),
      settings(tuner),
      retryDelay(firstRetryDelay) {}

RtlTcpSource::~RtlTcpSource() {
    stop();
}

void RtlTcpSource::startPublishing() {
    assembler.emplace(*blocks(), base::tunerTransferBytes);
    thread = std::thread(&RtlTcpSource::run, this);
}

std::optional<std::string> RtlTcpSource::stopPublishing() {
    // Whatever the thread waits for (a lookup, a connection, data, the next attempt), the
    // context returns from run at once.
    io.stop();
    if (thread.joinable()) {
        thread.join();
    }
    lookup.abandon();
    return std::nullopt;
}

void RtlTcpSource::run() {
    try {
        connect();
        watchSilence();
        io.run();
    } catch (...) {
        // Nothing a server does ends the source; this is the program's own failure.
        reportEnd(std::current_exception());
    }
}

void RtlTcpSource::connect() {
    phase = Phase::lookingUp;
    lastProgress = Clock::now();
    lookup.start(host, port, [this, current = ++attempt](const auto& failure, const auto& found) {
        if (current == attempt) {
            onLookedUp(failure, found);
        }
    });
}

void RtlTcpSource::onLookedUp(const std::string& failure,
                              const std::vector<boost::asio::ip::tcp::endpoint>& addresses) {
    if (!failure.empty()) {
        fail("cannot look the host up: " + failure);
        return;
    }
    phase = Phase::connecting;
    lastProgress = Clock::now();
    boost::asio::async_connect(socket, addresses,
                               [this, current = attempt](const auto& failed, const auto&) {
                                   if (current == attempt) {
                                       onConnected(failed);
                                   }
                               });
}

void RtlTcpSource::onConnected(const boost::system::error_code& error) {
    if (error) {
        fail(error.message());
        return;
    }
    phase = Phase::greeting;
    lastProgress = Clock::now();
    boost::asio::async_read(socket, boost::asio::buffer(greetingBytes),
                            [this, current = attempt](const auto& failed, std::size_t) {
                                if (current == attempt) {
                                    onGreeting(failed);
                                }
                            });
}

void RtlTcpSource::onGreeting(const boost::system::error_code& error) {
    if (error) {
        failOn(error);
        return;
    }
    const std::optional<RtlTcpGreeting> greeting = parseRtlTcpGreeting(greetingBytes);
    if (!greeting) {
        fail("not an rtl_tcp server: its greeting does not begin with RTL0");
        return;
    }
    announced = *greeting;
    if (!reported) {
        writeReport();
        reported = true;
    }
    sendCommands();
    phase = Phase::streaming;
    lastProgress = Clock::now();
    readStream();
}

void RtlTcpSource::sendCommands() {
    commands.clear();
    const auto add = [this](RtlTcpCommand command, int32_t argument) {
        const auto bytes = encodeRtlTcpCommand(command, argument);
        commands.insert(commands.end(), bytes.begin(), bytes.end());
    };
    add(RtlTcpCommand::setFrequency, static_cast<int32_t>(base::tunerCentreHz));
    add(RtlTcpCommand::setSampleRate, static_cast<int32_t>(base::tunerPairsPerSecond));
    if (settings.correctionPpm) {
        add(RtlTcpCommand::setFreqCorrection, *settings.correctionPpm);
    }
    add(RtlTcpCommand::setGainMode, settings.gainDb ? manualGainCommand : automaticGainCommand);
    if (settings.gainDb) {
        add(RtlTcpCommand::setGain, gainTenths(*settings.gainDb));
    }
    // A failed write shows as a failed read too: the read alone reports it.
    boost::asio::async_write(socket, boost::asio::buffer(commands),
                             [](const boost::system::error_code&, std::size_t) {});
}

void RtlTcpSource::readStream() {
    socket.async_read_some(boost::asio::buffer(assembler->space(), assembler->spaceBytes()),
                           [this, current = attempt](const auto& error, std::size_t bytes) {
                               if (current == attempt) {
                                   onStream(error, bytes);
                               }
                           });
}

void RtlTcpSource::onStream(const boost::system::error_code& error, std::size_t bytes) {
    if (bytes > 0) {
        lastProgress = Clock::now();
        if (!streamBegun) {
            streamBegun = true;
            std::ostringstream text;
            text << "receiving from its " << rtlTcpTunerName(announced.tunerType) << " tuner";
            if (outageSince) {
                const auto seconds =
                    std::chrono::duration_cast<std::chrono::seconds>(lastProgress - *outageSince);
                text << " again after " << seconds.count() << " s";
            }
            base::Logger::instance().log(base::Logger::INFO, named(text.str()));
            outageSince.reset();
            retryDelay = firstRetryDelay;
        }
        assembler->commit(static_cast<uint32_t>(bytes));
    }
    if (error) {
        failOn(error);
    } else {
        readStream();
    }
}

void RtlTcpSource::failOn(const boost::system::error_code& error) {
    fail(error == boost::asio::error::eof ? "the server closed the connection" : error.message());
}

void RtlTcpSource::fail(const std::string& reason) {
    ++attempt;  // whatever is still under way for this attempt is ignored from now on
    lookup.abandon();
    boost::system::error_code ignored;
    socket.close(ignored);
    if (streamBegun) {
        assembler->breakStream();
        streamBegun = false;
    }
    if (!outageSince) {
        outageSince = Clock::now();
        base::Logger::instance().log(base::Logger::ERROR, named(reason + "; reconnecting"));
    }
    phase = Phase::waiting;
    retryTimer.expires_after(retryDelay);
    retryTimer.async_wait([this, current = attempt](const boost::system::error_code& error) {
        if (!error && current == attempt) {
            connect();
        }
    });
    retryDelay = std::min(retryDelay * 2, longestRetryDelay);
}

void RtlTcpSource::watchSilence() {
    silenceTimer.expires_after(silenceCheckPeriod);
    silenceTimer.async_wait([this](const boost::system::error_code& error) {
        if (error) {
            return;
        }
        if (phase != Phase::waiting && Clock::now() - lastProgress >= silenceLimit) {
            const std::string limit = std::to_string(silenceLimit.count()) + " s";
            fail(phase == Phase::lookingUp    ? "no address for the host within " + limit
                 : phase == Phase::connecting ? "no answer within " + limit
                                              : "no data for " + limit);
        }
        watchSilence();
    });
}

void RtlTcpSource::writeReport() const {
    std::ostringstream report;
    report << named("") << rtlTcpTunerName(announced.tunerType) << " tuner, " << announced.gainCount
           << " gain steps\n"
           << std::fixed << std::setprecision(3) << "Freq: " << inMegahertz(base::tunerCentreHz)
           << " MHz\n";
    reportSettings(report, settings);
    std::cerr << report.str() << std::flush;
}

std::string RtlTcpSource::named(const std::string& text) const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return "rtl_tcp " + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + ": " + text;
}

}  // namespace keelwave::sdr
