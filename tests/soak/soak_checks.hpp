#pragma once

#include "tests/soak/soak_support.hpp"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

/// What the kernel may hold for a client that never reads beyond the server's own cap: the
/// client's receive buffer and the server's send buffer, which slowReaderOptions keeps near
/// 120 KiB on loopback. Generous; without the small segments it would be megabytes.
constexpr std::size_t kernelBufferAllowance = 256 * 1024;
/// Lines logged around a client's connect or drop that the log cannot place exactly on either
/// side: one in flight per channel thread, and the line that overflowed, at 82 bytes each.
constexpr std::size_t lineBytesSlack = 4 * 82;

/// Logged sentences per channel letter.
std::map<char, std::size_t> sentencesPerChannel(const ReceiverLog& log);

/// Sentences logged after "Connected `address`": what that client should have received.
std::size_t linesOwed(const ReceiverLog& log, const std::string& address);

/// True if every one of `addresses` (connections the test made and closed; an address may
/// repeat) was logged as connected and as disconnected again. A peer that left before the
/// server asked its address is logged with an empty one; those are counted instead.
bool allForgotten(const ReceiverLog& log, const std::vector<std::string>& addresses);

/// The log against the looping recording: per channel, the logged sentences must be the
/// recording's sentences of that channel in order, pass after pass, sequence ids and checksums
/// aside (ids go on counting from pass to pass).
struct LogVersusRecording {
    std::string firstDifference;  ///< empty when there is none
    double passes = 0;            ///< of the channel with the fewest
};
LogVersusRecording compareWithRecording(const ReceiverLog& log,
                                        const std::vector<std::string>& expected);

/// One client's stream against the log. Within a channel the order of the air is kept, so the
/// client's lines of a channel must be a run of the log's lines of that channel, starting where
/// the client was connected. Across channels the log's order may differ from the order of the
/// writes by one line, as each channel thread writes to the clients before it logs.
struct ClientStream {
    std::string address;
    std::vector<std::string> lines;
    std::string tail;  ///< a last line cut off by the stop, if any
    std::size_t malformed = 0;
    bool inLogOrder = true;
    /// Every line of the log was received up to the counts given to analyseClient.
    bool complete = true;
    std::map<char, std::size_t> first;  ///< index of the first line among the channel's
    std::map<char, std::size_t> count;  ///< lines received of the channel
};
ClientStream analyseClient(const ReceiverLog& log, const std::string& address,
                           const std::string& received,
                           const std::map<char, std::size_t>& loggedBefore);

/// True if the two clients received the same lines in the same order where both were connected.
bool sameOverCommonInterval(const ClientStream& one, const ClientStream& other);

/// The UDP sender's lookups of `host` in the log.
struct UdpRetries {
    std::size_t failedLookups = 0;     ///< "Can't resolve host" lines
    std::size_t scheduledRetries = 0;  ///< "Try resolve in 15 seconds" lines
    std::vector<std::string> otherErrors;
};
UdpRetries udpRetries(const ReceiverLog& log, const std::string& host);
