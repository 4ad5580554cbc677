#pragma once

#include "net/line_output.hpp"

#include <string>

namespace keelwave::net {

/// A broker and where on it the messages go, as `--output` gives them:
///
///   mqtt://[USER:PASSWORD@]HOST[:PORT][/TOPIC]    e.g. mqtt://broker/ais/{station}/{type}
///   mqtts://…                                     the same over TLS
///
/// USER and PASSWORD may carry %XX escapes (%40 for '@', %2C for ','); HOST may be an IPv6
/// address in brackets. The topic is a template filled per message.
struct MqttSettings {
    bool tls = false;
    std::string user;      ///< empty: no user name is sent
    std::string password;  ///< never logged
    std::string host;      ///< a name or an address, without brackets
    int port = 0;          ///< 1..65535; 1883 for mqtt://, 8883 for mqtts:// unless given
    std::string topic = "ais/{station}";
    std::string statusTopic = "{station}/status";  ///< retained "online …" and the "offline" will
    int qos = 0;                                   ///< 0 or 1
    std::string caFile;  ///< certificates to trust (mqtts); empty: the system's
};

/// Reads the address part of an MQTT destination, "//[USER:PASSWORD@]HOST[:PORT][/TOPIC]" after
/// the scheme; `tls` for mqtts. Throws std::invalid_argument saying what is wrong.
MqttSettings parseMqttAddress(const std::string& address, bool tls);

/// Throws std::invalid_argument unless `topic` is a topic template for publishing: not empty,
/// no wildcard, only {station}, {channel}, {type} and {mmsi} in braces.
void checkTopicTemplate(const std::string& topic);

/// `topic` with its fields filled from the station and the message.
std::string fillTopic(const std::string& topic, const std::string& station,
                      const MessageKeys& keys);

/// The destination as logs and statistics show it: "mqtt://host:port/topic", no credentials.
std::string describeBroker(const MqttSettings& settings);

/// `text` with the password of any "scheme://user:password@" in it replaced by "****".
std::string hidePassword(const std::string& text);

}  // namespace keelwave::net
