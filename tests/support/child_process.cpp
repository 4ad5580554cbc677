#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    }
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : extra) {
        merged[name] = value;
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : merged) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

int decodeStatus(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    if (WIFSIGNALED(raw)) {
        return 128 + WTERMSIG(raw);
    }
    return -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment,
                           const std::string& standardInput) {
    int outPipe[2];
    int errPipe[2];
    int inPipe[2];
    check(pipe2(outPipe, O_CLOEXEC) == 0, "pipe");
    check(pipe2(errPipe, O_CLOEXEC) == 0, "pipe");
    check(pipe2(inPipe, O_CLOEXEC) == 0, "pipe");

    // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> entries = mergedEnvironment(environment);
    std::vector<char*> envp;
    for (auto& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0) {
        dup2(inPipe[0], STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    outReader = std::thread([this, fd = outPipe[0]] { collect(fd, out); });
    errReader = std::thread([this, fd = errPipe[0]] { collect(fd, err); });
    inWriter = std::thread([fd = inPipe[1], standardInput] {
        // A broken pipe (the program stopped reading) only ends the writing.
        ::signal(SIGPIPE, SIG_IGN);
        std::size_t written = 0;
        while (written < standardInput.size()) {
            const ssize_t n =
                write(fd, standardInput.data() + written, standardInput.size() - written);
            if (n <= 0) {
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        close(fd);
    });
}

ChildProcess::~ChildProcess() {
    if (!finished) {
        wait(std::chrono::milliseconds(0));
    }
}

void ChildProcess::collect(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        std::lock_guard<std::mutex> guard(lock);
        into.append(buffer, static_cast<std::size_t>(n));
        grew.notify_all();
    }
    close(fd);
}

void ChildProcess::signal(int signalNumber) {
    ::kill(pid, signalNumber);
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout,
                                 bool onError) {
    std::unique_lock<std::mutex> guard(lock);
    return grew.wait_for(guard, timeout,
                         [&] { return (onError ? err : out).find(text) != std::string::npos; });
}

std::string ChildProcess::outputSoFar() {
    std::lock_guard<std::mutex> guard(lock);
    return out;
}

ProcessResult ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (finished) {
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int raw = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &raw, WNOHANG);
        if (done == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    outReader.join();
    errReader.join();
    inWriter.join();
    finished = true;
    result.status = decodeStatus(raw);
    std::lock_guard<std::mutex> guard(lock);
    result.out = out;
    result.err = err;
    return result;
}

ProcessResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds timeout, const std::string& standardInput) {
    ChildProcess child(program, arguments, environment, standardInput);
    return child.wait(timeout);
}

std::map<std::string, std::string> standinEnvironment(std::map<std::string, std::string> settings) {
    settings["LD_LIBRARY_PATH"] = STANDIN_LIBRARY_DIR;
    return settings;
}

std::string keelwaveBinary() {
    return KEELWAVE_BINARY;
}

ScratchDirectory::ScratchDirectory() {
    std::string pattern = "/tmp/keelwave-test-XXXXXX";
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    root = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;  // a leftover directory in /tmp harms no later test
    std::filesystem::remove_all(root, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool waitForLineIn(const std::string& path, const std::string& prefix,
                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (const std::string& line : splitLines(readFile(path))) {
            if (line.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}
