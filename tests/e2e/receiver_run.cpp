#include "tests/e2e/receiver_run.hpp"

#include "tests/support/log_capture.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

Recording makeRecording(const ScratchDirectory& directory, const std::string& nmeaFile,
                        const std::vector<std::string>& options) {
    Recording recording;
    recording.path = directory.path("recording.cu8");
    const std::string expectedPath = directory.path("expected.txt");
    std::vector<std::string> arguments{nmeaFile, "-o", recording.path, "-e", expectedPath};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const ProcessResult made = runProgram(AISGEN_BINARY, arguments);
    EXPECT_EQ(made.status, 0) << made.err;
    recording.expected = splitLines(readFile(expectedPath));
    return recording;
}

std::string writeSilence(const ScratchDirectory& directory, double seconds) {
    const std::string path = directory.path("silence.cu8");
    constexpr double bytesPerSecond = 2 * 288000.0;  // unsigned I and Q per sample
    std::ofstream(path, std::ios::binary)
        << std::string(static_cast<std::size_t>(seconds * bytesPerSecond), '\x80');
    return path;
}

ReceiverRun::ReceiverRun(const ScratchDirectory& directory,
                         const std::vector<std::string>& arguments,
                         std::map<std::string, std::string> standin)
    : callLog(directory.path("calls.log")), deliveredMarker(directory.path("delivered")) {
    standin.emplace("RTLSDR_STANDIN_DEVICES", "1");
    standin.emplace("RTLSDR_STANDIN_CALL_LOG", callLog);
    standin.emplace("RTLSDR_STANDIN_DONE", deliveredMarker);
    process = std::make_unique<ChildProcess>(keelwaveBinary(), arguments,
                                             standinEnvironment(std::move(standin)));
}

bool ReceiverRun::waitUntilDelivered(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!std::filesystem::exists(deliveredMarker)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool ReceiverRun::waitUntilReading(std::chrono::milliseconds timeout) {
    return waitForLineIn(callLog, "rtlsdr_read_async", timeout);
}

bool ReceiverRun::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    return process->waitForOutput(text, timeout);
}

bool ReceiverRun::waitForError(const std::string& text, std::chrono::milliseconds timeout) {
    return process->waitForOutput(text, timeout, true);
}

ProcessResult ReceiverRun::stop(int signalNumber, std::chrono::milliseconds timeout) {
    process->signal(signalNumber);
    return process->wait(timeout);
}

ProcessResult ReceiverRun::wait(std::chrono::milliseconds timeout) {
    return process->wait(timeout);
}

std::vector<std::string> ReceiverRun::calls() const {
    return splitLines(readFile(callLog));
}

std::vector<std::string> loggedSentences(const std::string& standardOutput) {
    std::vector<std::string> sentences;
    for (const std::string& line : splitLines(standardOutput)) {
        const std::string text = logText(line);
        if (text.rfind("!AIVDM,", 0) == 0) {
            sentences.push_back(text);
        }
    }
    return sentences;
}

std::vector<std::string> withoutSequenceIds(std::vector<std::string> sentences) {
    for (std::string& sentence : sentences) {
        // "!AIVDM,2,1,7,A,...": the id is the field after the third comma.
        const auto third = sentence.find(',', sentence.find(',', sentence.find(',') + 1) + 1);
        const auto fourth = sentence.find(',', third + 1);
        sentence.erase(third + 1, fourth - third - 1);
        sentence.erase(sentence.rfind('*'));
    }
    return sentences;
}
