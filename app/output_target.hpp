#pragma once

#include <map>
#include <string>
#include <vector>

namespace keelwave::app {

/// One destination of the messages as the command line gives it:
///
///   --output KIND:ADDRESS[,NAME=VALUE]...      e.g. server:10110   udp:[::1]:10110,format=json
///                                                   file:/var/log/ais.nmea,format=tagged
///                                                   tcp:aggregator.example:5631
///                                                   mqtt://broker/ais/{station},qos=1
///
/// `--net PORT` and `--udp HOST:PORT` are `--output server:PORT` and `--output udp:HOST:PORT`.
struct OutputTarget {
    std::string kind;     ///< "server", "udp", "file", "tcp", "mqtt", "mqtts"
    std::string address;  ///< what follows the kind: a port, host:port, a path ("-": stdout),
                          ///< "//[USER:PASSWORD@]HOST[:PORT][/TOPIC]"
    std::string format;   ///< the kind's default unless a `format=` says otherwise
    std::map<std::string, std::string> parameters;  ///< the kind's own NAME=VALUEs
    std::string text;                               ///< as given but for a password, for messages
};

/// The kinds of output, each with the parameters it takes besides `format`, and its format
/// when none is given.
struct OutputKind {
    const char* name;
    std::vector<std::string> parameters;
    const char* format = "nmea";
};
extern const std::vector<OutputKind> outputKinds;

/// Reads one `--output` text. Throws boost::program_options::error naming what is wrong: an
/// unknown kind, format or parameter, an address missing or unusable for its kind.
OutputTarget parseOutputTarget(const std::string& text);

}  // namespace keelwave::app
