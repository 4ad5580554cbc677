#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

/// The UDP destination of every soak run. Its host can never resolve, so the sender keeps
/// retrying. The leading hyphen makes the C library reject the name before it asks any name
/// server, so the retries send nothing off this machine even outside a network namespace.
constexpr const char* unresolvableUdpOption = "--udp=-keelwave-soak.invalid:10110";
constexpr const char* unresolvableHost = "-keelwave-soak.invalid";

/// True when the tests run in a network namespace of their own, where only the loopback
/// interface exists: as on a machine without a network.
bool networkIsolated();

/// The pace (multiple of real time) at which the stand-in plays the recording: well below what
/// the receiver sustains on two cores in this build while clients churn, so no transfer is
/// dropped; KEELWAVE_SOAK_PACE overrides it.
double soakPace();

/// True in the sanitizer builds, where the receiver runs several times slower.
bool sanitizedBuild();

/// The positive number given by the environment variable `name`, or `fallback`.
double numberFromEnvironment(const char* name, double fallback);

/// A seed from KEELWAVE_SOAK_SEED, or a fresh one; reported so that a failing run can be
/// repeated with the same random choices.
unsigned soakSeed();

/// Measures how late this process's threads get the processor: a thread that sleeps 5 ms at a
/// time records by how much each sleep overran. The receiver drops a tuner transfer that finds
/// a channel still at work, by design; on a machine so busy that threads run tens of
/// milliseconds late, such drops say nothing about the receiver.
class SchedulingProbe {
public:
    SchedulingProbe();
    ~SchedulingProbe();
    SchedulingProbe(const SchedulingProbe&) = delete;
    SchedulingProbe& operator=(const SchedulingProbe&) = delete;

    /// The longest overrun so far, in milliseconds.
    double worstLatenessMilliseconds() const { return worst; }

private:
    std::atomic<double> worst{0};
    std::atomic<bool> stopping{false};
    std::thread thread;
};

/// One sentence a receiver emits, as the parts the checks need.
struct Sentence {
    std::string text;  ///< without the line end
    char channel = 0;  ///< 'A' or 'B'
};

/// True for a whole "!AIVDM" sentence: seven fields, a fragment count from 1 to 9 and a
/// fragment number within it, a sequence id that is empty or one digit, channel A or B, six-bit
/// armoured payload characters, a fill count from 0 to 5, and a checksum that is the XOR of
/// every character between '!' and '*', in two upper-case hex digits.
bool isWellFormedSentence(const std::string& text);

/// The channel letter of a well-formed sentence.
char sentenceChannel(const std::string& text);

/// The lines of a TCP stream ended by "\r\n". A final piece without its line end (the run was
/// stopped while it was being sent) goes to `tail`.
std::vector<std::string> splitNetworkLines(const std::string& stream, std::string* tail);

/// What the receiver logged on standard output, in order.
struct ReceiverLog {
    /// One log line of interest, with its position among all of them.
    struct Entry {
        enum class Kind { Sentence, Connected, Disconnected, Other } kind;
        std::string text;  ///< the sentence, or the client's address, or the whole text
    };
    std::vector<Entry> entries;

    explicit ReceiverLog(const std::string& standardOutput);

    std::vector<Sentence> sentences() const;
    /// Sentences of `channel` logged before the first "Connected `address`" line; npos if that
    /// line is not there.
    std::size_t sentencesBeforeConnect(const std::string& address, char channel) const;
    /// Bytes of the lines ("\r\n" included) logged after "Connected `address`", up to its
    /// "Disconnected" line with `untilDisconnected`, else to the end: what the server was asked
    /// to send that client.
    std::size_t bytesOffered(const std::string& address, bool untilDisconnected) const;
    std::size_t count(ReceiverLog::Entry::Kind kind, const std::string& text) const;
    /// The texts of lines whose level is ERROR.
    std::vector<std::string> errors;
};

/// Memory figures of a running process, in KiB, from /proc/<pid>/status.
struct ProcessMemory {
    long residentKiB = 0;      ///< VmRSS
    long peakResidentKiB = 0;  ///< VmHWM
};
ProcessMemory processMemory(pid_t pid);

/// The number of file descriptors a process has open.
std::size_t openDescriptors(pid_t pid);

/// True if every line of standard error belongs to the tuner report the receiver prints at
/// start-up (any prefix of it, also none at all).
bool onlyTunerReport(const std::string& standardError);
