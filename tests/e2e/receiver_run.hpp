#pragma once

#include "tests/support/child_process.hpp"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

/// The real sentences of every message type the end-to-end runs render into recordings.
inline std::string sampleMessages() {
    return std::string(TEST_DATA_DIR) + "/real-aivdm-sample.nmea";
}

/// A cu8 recording made by keelwave-aisgen, and the sentences a correct receiver prints for it.
struct Recording {
    std::string path;
    std::vector<std::string> expected;
};

/// Renders `nmeaFile` into `directory` with keelwave-aisgen and the extra `options`.
Recording makeRecording(const ScratchDirectory& directory, const std::string& nmeaFile,
                        const std::vector<std::string>& options = {});

/// Writes `seconds` of an empty band (every byte 128) into `directory`; returns its path.
std::string writeSilence(const ScratchDirectory& directory, double seconds);

/// The real keelwave binary on the stand-in tuner library: one attached device, every
/// librtlsdr call logged, and a marker file once the stand-in has delivered its whole input.
class ReceiverRun {
public:
    ReceiverRun(const ScratchDirectory& directory, const std::vector<std::string>& arguments,
                std::map<std::string, std::string> standin = {});

    /// True once the stand-in has streamed all of its input into the receiver.
    bool waitUntilDelivered(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    /// True once the capture thread is inside its asynchronous read, so a stop now cancels it.
    bool waitUntilReading(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForError(const std::string& text,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

    /// Sends `signalNumber` and waits for the end; a run that hangs is killed after `timeout`.
    ProcessResult stop(int signalNumber,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ProcessResult wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    /// The librtlsdr calls made so far, one "name arguments" line each.
    std::vector<std::string> calls() const;
    /// The file the stand-in appends those calls to.
    const std::string& callLogPath() const { return callLog; }

private:
    std::string callLog;
    std::string deliveredMarker;
    std::unique_ptr<ChildProcess> process;
};

/// The texts of the log lines on standard output that are sentences, in order.
std::vector<std::string> loggedSentences(const std::string& standardOutput);

/// The sentences with their sequence ids blanked, for comparing runs that lost messages.
std::vector<std::string> withoutSequenceIds(std::vector<std::string> sentences);
