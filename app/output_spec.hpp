#pragma once

#include <map>
#include <string>
#include <vector>

namespace keelwave::app {

/// One destination of the messages as the command line gives it:
///
///   --output KIND:ADDRESS[,NAME=VALUE]...      e.g. server:10110   udp:[::1]:10110,format=json
///                                                   file:/var/log/ais.nmea,format=tagged
///
/// `--net PORT` and `--udp HOST:PORT` are `--output server:PORT` and `--output udp:HOST:PORT`.
struct OutputSpec {
    std::string kind;     ///< "server", "udp", "file"
    std::string address;  ///< what follows the kind: a port, host:port, a path ("-": stdout)
    std::string format;   ///< "nmea" unless a `format=` says otherwise
    std::map<std::string, std::string> parameters;  ///< the kind's own NAME=VALUEs
    std::string text;                               ///< as given, for messages
};

/// The kinds of output, each with the parameters it takes besides `format`.
struct OutputKind {
    const char* name;
    std::vector<std::string> parameters;
};
extern const std::vector<OutputKind> outputKinds;

/// Reads one `--output` text. Throws boost::program_options::error naming what is wrong: an
/// unknown kind, format or parameter, an address missing or unusable for its kind.
OutputSpec parseOutputSpec(const std::string& text);

}  // namespace keelwave::app
