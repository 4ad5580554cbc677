#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// What a finished program left behind.
struct ProcessResult {
    int status = -1;  ///< exit status, or 128 + signal number when a signal ended it
    bool timedOut = false;
    std::string out;  ///< everything written to standard output
    std::string err;  ///< everything written to standard error
};

/// A program run in the background with its standard output and error captured, for tests
/// that drive the real binary: they can wait for a line, send signals and collect the result.
class ChildProcess {
public:
    /// Starts `program` with `arguments`; `environment` entries are added to (or replace) ours.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {},
                 const std::string& standardInput = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void signal(int signalNumber);

    /// The program's process id, for looking at it in /proc while it runs.
    int processId() const { return pid; }

    /// True once `text` has appeared on standard output (or error, with `onError`).
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout,
                       bool onError = false);

    std::string outputSoFar();

    /// Waits for the program to end; kills it with SIGKILL after `timeout`.
    ProcessResult wait(std::chrono::milliseconds timeout);

private:
    void collect(int fd, std::string& into);

    int pid = -1;
    std::mutex lock;
    std::condition_variable grew;
    std::string out;
    std::string err;
    std::thread outReader;
    std::thread errReader;
    std::thread inWriter;
    bool finished = false;
    ProcessResult result;
};

/// Runs a program to its end and returns what it left behind.
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(30),
                         const std::string& standardInput = "");

/// The environment that makes the real keelwave binary use the stand-in librtlsdr.
std::map<std::string, std::string> standinEnvironment(
    std::map<std::string, std::string> settings = {});

/// The keelwave binary under test.
std::string keelwaveBinary();

/// A fresh, empty directory for one test's files, removed when the object goes.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    std::string path(const std::string& name) const { return root + "/" + name; }

private:
    std::string root;
};

/// The whole content of a file, or an empty string when it does not exist.
std::string readFile(const std::string& path);

/// Waits until a line of the file at `path` starts with `prefix`; false if none does in time.
bool waitForLineIn(const std::string& path, const std::string& prefix,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

/// Splits text into lines at '\n'; a final line without '\n' is kept.
std::vector<std::string> splitLines(const std::string& text);
