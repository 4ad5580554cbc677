#pragma once

#include "app/message_hand_off.hpp"
#include "app/output_target.hpp"
#include "format/message_format.hpp"
#include "net/line_output.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/program_options/variables_map.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace keelwave::app {

/// Every destination the options ask for, each with its format, in the order a message reaches
/// them: the TCP server of `net`, the UDP destinations of `udp`, each `output` in the order
/// given, and the log (unless `no-console`). They are stopped and released in the same order.
class ReceiverOutputs {
public:
    explicit ReceiverOutputs(boost::asio::io_context& io);
    ~ReceiverOutputs();
    ReceiverOutputs(const ReceiverOutputs&) = delete;
    ReceiverOutputs& operator=(const ReceiverOutputs&) = delete;

    /// Opens the outputs and starts the UDP lookups; their formats write with `context`.
    /// `recording`: the input is a recording, so the log and standard output may hold messages
    /// back but never drop one. Throws base::StartupError with the line for standard error when
    /// an output cannot be had (a port taken or asked for twice, a destination that is no
    /// host:port, a file that cannot be opened).
    void open(const boost::program_options::variables_map& options, bool recording,
              const format::FormatContext& context);

    /// Makes every output a destination of `handOff`, in order.
    void connect(MessageHandOff& handOff);

    /// What each output has done, in order.
    std::vector<net::OutputCounts> counts() const;

    /// On the I/O thread: stops the loop once `handOff` has handed every message on (however
    /// long a recording's console takes) and every output has sent it, or `limit` after the
    /// hand-off was done if a client does not take its lines.
    void stopWhenDelivered(MessageHandOff& handOff, std::chrono::milliseconds limit);

private:
    struct Output {
        std::shared_ptr<net::LineOutput> output;
        format::MessageFormat* format;
    };

    void add(std::shared_ptr<net::LineOutput> output, const std::string& formatName);
    std::shared_ptr<net::LineOutput> openServer(unsigned int port);
    std::shared_ptr<net::LineOutput> openUdp(const std::string& destination);
    /// The `ordinal`th broker output: its client id must differ from the others'.
    std::shared_ptr<net::LineOutput> openMqtt(const OutputTarget& target, int ordinal,
                                              bool recording);
    bool pending() const;
    void checkDelivered(MessageHandOff& handOff, std::chrono::milliseconds limit,
                        std::chrono::steady_clock::time_point giveUp);

    boost::asio::io_context& io;
    format::FormatContext formatContext;
    std::map<std::string, std::unique_ptr<format::MessageFormat>> formats;  ///< one per name
    std::vector<Output> outputs;
    boost::asio::steady_timer deliveryCheck;
};

}  // namespace keelwave::app
