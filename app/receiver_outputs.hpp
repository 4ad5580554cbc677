#pragma once

#include "app/message_hand_off.hpp"
#include "format/nmea_format.hpp"
#include "net/line_output.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/program_options/variables_map.hpp>

#include <chrono>
#include <memory>
#include <vector>

namespace keelwave::app {

/// Every destination the options ask for, each with its format, in the order a message reaches
/// them: the TCP server of `net`, the UDP destination of `udp`, the log (unless `no-console`).
/// They are stopped and released in the same order: the server first, then the UDP client.
class ReceiverOutputs {
public:
    explicit ReceiverOutputs(boost::asio::io_context& io);
    ~ReceiverOutputs();
    ReceiverOutputs(const ReceiverOutputs&) = delete;
    ReceiverOutputs& operator=(const ReceiverOutputs&) = delete;

    /// Opens the outputs and starts the UDP lookup. `recording`: the input is a recording, so
    /// the log may hold messages back but never drop one. Throws base::StartupError with the
    /// line for standard error when an option cannot be used (a port that cannot be had, a
    /// destination that is no host:port).
    void open(const boost::program_options::variables_map& options, bool recording);

    /// Makes every output a destination of `handOff`, in order.
    void connect(MessageHandOff& handOff);

    /// On the I/O thread: stops the loop once `handOff` has handed every message on (however
    /// long a recording's console takes) and every output has sent it, or `limit` after the
    /// hand-off was done if a client does not take its lines.
    void stopWhenDelivered(MessageHandOff& handOff, std::chrono::milliseconds limit);

private:
    struct Output {
        std::shared_ptr<net::LineOutput> output;
        const format::MessageFormat* format;
    };

    void enableServer(const boost::program_options::variables_map& options);
    void enableUdp(const boost::program_options::variables_map& options);
    bool pending() const;
    void checkDelivered(MessageHandOff& handOff, std::chrono::milliseconds limit,
                        std::chrono::steady_clock::time_point giveUp);

    boost::asio::io_context& io;
    format::NmeaFormat nmea;
    std::vector<Output> outputs;
    boost::asio::steady_timer deliveryCheck;
};

}  // namespace keelwave::app
