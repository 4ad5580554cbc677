#pragma once

#include "sdr/block_assembler.hpp"
#include "sdr/host_lookup.hpp"
#include "sdr/rtl_tcp_protocol.hpp"
#include "sdr/sample_source.hpp"
#include "sdr/tuner_settings.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace keelwave::sdr {

/// A tuner on another machine, served by rtl_tcp: the stream comes over TCP and goes into the
/// ring in the local tuner's blocks, offered, so that a slow channel costs blocks, never a
/// growing buffer. The source's thread runs an I/O context of its own:
///
///   wait ──► look up ──► connect ──► greeting ──► commands, stream ──┐
///    ▲                                                               │
///    └── outage: ERROR once, the block begun offered, a gap marked ◄─┘ refused, reset, closed,
///        then 1, 2, 4 ... 30 s between attempts, 1 again once          not "RTL0", or 5 s
///        samples flow                                                  without a byte
///
/// Losing the server never ends the source; only a stop does, at any moment. The tuner report
/// goes to standard error at the first greeting; each outage and each recovery is logged.
class RtlTcpSource : public SampleSource {
public:
    /// Nothing is looked up or connected until `start`.
    RtlTcpSource(std::string host, uint16_t port, TunerSettings settings);
    ~RtlTcpSource() override;

protected:
    void startPublishing() override;
    /// Stops the I/O context, whatever it waits for, and joins the thread.
    std::optional<std::string> stopPublishing() override;

private:
    enum class Phase { waiting, lookingUp, connecting, greeting, streaming };

    void run();
    void connect();
    void onLookedUp(const std::string& failure,
                    const std::vector<boost::asio::ip::tcp::endpoint>& addresses);
    void onConnected(const boost::system::error_code& error);
    void onGreeting(const boost::system::error_code& error);
    void sendCommands();
    void readStream();
    void onStream(const boost::system::error_code& error, std::size_t bytes);
    /// The connection is lost or was never made: why, in words.
    void fail(const std::string& reason);
    void failOn(const boost::system::error_code& error);
    /// Every tick: an attempt or a stream that has been silent too long fails.
    void watchSilence();
    /// The tuner report on standard error: what the server announced, what was asked of it.
    void writeReport() const;
    /// "rtl_tcp HOST:PORT: " before every log line.
    std::string named(const std::string& text) const;

    const std::string host;
    const uint16_t port;
    const TunerSettings settings;
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket{io};
    boost::asio::steady_timer retryTimer{io};
    boost::asio::steady_timer silenceTimer{io};
    HostLookup lookup{io};
    std::optional<BlockAssembler> assembler;  ///< from `start`, when the ring exists
    std::array<uint8_t, rtlTcpGreetingBytes> greetingBytes{};
    RtlTcpGreeting announced;       ///< by the last greeting
    std::vector<uint8_t> commands;  ///< being sent
    Phase phase = Phase::waiting;
    uint64_t attempt = 0;  ///< of the handlers under way; those of an earlier one are ignored
    std::chrono::steady_clock::time_point lastProgress;
    std::chrono::seconds retryDelay;
    bool reported = false;     ///< the tuner report has been written
    bool streamBegun = false;  ///< bytes have come since the last break of the stream
    std::optional<std::chrono::steady_clock::time_point> outageSince;
    std::thread thread;
};

}  // namespace keelwave::sdr
