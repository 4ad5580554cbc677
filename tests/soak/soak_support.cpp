#include "tests/soak/soak_support.hpp"

#include "tests/support/log_capture.hpp"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace {

// The stand-in plays the recording this many times faster than the air. On two cores the
// receiver decodes both channels about 60 times faster than real time in the plain build, 25
// times under AddressSanitizer and 4 times under ThreadSanitizer. A block is dropped when a
// channel has not finished the previous one within one transfer interval (178 ms divided by
// the pace), so the pace leaves the channels most of each interval to spare. Eight times real
// time also offers a client that never reads more than the per-client cap within a minute.
#if defined(__SANITIZE_THREAD__)
constexpr double defaultPace = 1.0;
constexpr bool sanitized = true;
#elif defined(__SANITIZE_ADDRESS__)
constexpr double defaultPace = 8.0;
constexpr bool sanitized = true;
#else
constexpr double defaultPace = 8.0;
constexpr bool sanitized = false;
#endif

/// The tuner report lines, by their start: the gains, the frequency, the correction, the gain.
const char* const tunerReportStarts[] = {
    "Supported Gains (dB): ", "Freq: ", "Freq Correction: ", "Gain: "};

/// Every test of this program runs in a network namespace of its own when the system lets it
/// (as root): only its loopback interface exists there, so no traffic of the receiver under
/// load, its clients or its name lookups can leave the machine, and no other test's ports are
/// in the way. Without the privilege the tests run in the machine's namespace.
class IsolatedNetwork : public testing::Environment {
public:
    void SetUp() override {
        // The process has one thread here; every thread and child created later inherits
        // the namespace.
        if (::unshare(CLONE_NEWNET) != 0) {
            return;
        }
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq request{};
        std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
        const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                        (request.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
        if (fd >= 0) {
            ::close(fd);
        }
        if (!up) {
            std::fprintf(stderr, "cannot bring up the loopback interface: %s\n",
                         std::strerror(errno));
            std::abort();
        }
        isolated = true;
    }

    static bool isolated;
};

bool IsolatedNetwork::isolated = false;

testing::Environment* const isolatedNetwork =
    testing::AddGlobalTestEnvironment(new IsolatedNetwork);

bool isArmouredPayload(char c) {
    return (c >= '0' && c <= 'W') || (c >= '`' && c <= 'w');
}

std::vector<std::string> fields(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, ',')) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == ',') {
        parts.emplace_back();
    }
    return parts;
}

bool startsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

}  // namespace

SchedulingProbe::SchedulingProbe()
    : thread([this] {
          constexpr std::chrono::milliseconds nap{5};
          while (!stopping) {
              const auto before = std::chrono::steady_clock::now();
              std::this_thread::sleep_for(nap);
              const double late = std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - before - nap)
                                      .count();
              if (late > worst) {
                  worst = late;
              }
          }
      }) {}

SchedulingProbe::~SchedulingProbe() {
    stopping = true;
    thread.join();
}

bool networkIsolated() {
    return IsolatedNetwork::isolated;
}

double soakPace() {
    return numberFromEnvironment("KEELWAVE_SOAK_PACE", defaultPace);
}

bool sanitizedBuild() {
    return sanitized;
}

double numberFromEnvironment(const char* name, double fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return fallback;
    }
    const double number = std::strtod(value, nullptr);
    return number > 0 ? number : fallback;
}

unsigned soakSeed() {
    const char* value = std::getenv("KEELWAVE_SOAK_SEED");
    return value != nullptr ? static_cast<unsigned>(std::strtoul(value, nullptr, 10))
                            : std::random_device{}();
}

bool isWellFormedSentence(const std::string& text) {
    // "!AIVDM,2,1,3,A,<payload>,0*5C": at most 82 characters with the line end.
    constexpr std::size_t longestSentence = 80;
    const auto star = text.rfind('*');
    if (text.size() > longestSentence || !startsWith(text, "!AIVDM,") ||
        star == std::string::npos || star + 3 != text.size()) {
        return false;
    }
    unsigned checksum = 0;
    for (std::size_t i = 1; i < star; ++i) {
        checksum ^= static_cast<unsigned char>(text[i]);
    }
    char written[3];
    std::snprintf(written, sizeof written, "%02X", checksum);
    const std::vector<std::string> parts = fields(text.substr(0, star));
    if (text.substr(star + 1) != written || parts.size() != 7) {
        return false;
    }
    const std::string& count = parts[1];
    const std::string& number = parts[2];
    const std::string& sequence = parts[3];
    const std::string& payload = parts[5];
    const std::string& fill = parts[6];
    return count.size() == 1 && count[0] >= '1' && count[0] <= '9' && number.size() == 1 &&
           number[0] >= '1' && number[0] <= count[0] &&
           (sequence.empty() || (sequence.size() == 1 && std::isdigit(sequence[0]))) &&
           (parts[4] == "A" || parts[4] == "B") && !payload.empty() &&
           std::all_of(payload.begin(), payload.end(), isArmouredPayload) && fill.size() == 1 &&
           fill[0] >= '0' && fill[0] <= '5';
}

char sentenceChannel(const std::string& text) {
    const std::vector<std::string> parts = fields(text);
    return parts.size() > 4 && parts[4].size() == 1 ? parts[4][0] : 0;
}

std::vector<std::string> splitNetworkLines(const std::string& stream, std::string* tail) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = stream.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(stream.substr(start, end - start));
    }
    *tail = stream.substr(start);
    return lines;
}

ReceiverLog::ReceiverLog(const std::string& standardOutput) {
    std::istringstream stream(standardOutput);
    for (std::string line; std::getline(stream, line);) {
        const std::string text = logText(line);
        using Kind = Entry::Kind;
        if (startsWith(text, "!AIVDM,")) {
            entries.push_back({Kind::Sentence, text});
        } else if (startsWith(text, "Connected ")) {
            entries.push_back({Kind::Connected, text.substr(std::strlen("Connected "))});
        } else if (startsWith(text, "Disconnected ")) {
            entries.push_back({Kind::Disconnected, text.substr(std::strlen("Disconnected "))});
        } else if (!text.empty()) {
            entries.push_back({Kind::Other, text});
        }
        if (line.find("  ERROR    ") != std::string::npos) {
            errors.push_back(text);
        }
    }
}

std::vector<Sentence> ReceiverLog::sentences() const {
    std::vector<Sentence> found;
    for (const Entry& entry : entries) {
        if (entry.kind == Entry::Kind::Sentence) {
            found.push_back({entry.text, sentenceChannel(entry.text)});
        }
    }
    return found;
}

std::size_t ReceiverLog::sentencesBeforeConnect(const std::string& address, char channel) const {
    std::size_t before = 0;
    for (const Entry& entry : entries) {
        if (entry.kind == Entry::Kind::Connected && entry.text == address) {
            return before;
        }
        if (entry.kind == Entry::Kind::Sentence && sentenceChannel(entry.text) == channel) {
            ++before;
        }
    }
    return std::string::npos;
}

std::size_t ReceiverLog::bytesOffered(const std::string& address, bool untilDisconnected) const {
    std::size_t bytes = 0;
    bool connected = false;
    for (const Entry& entry : entries) {
        if (entry.kind == Entry::Kind::Connected && entry.text == address) {
            connected = true;
        } else if (entry.kind == Entry::Kind::Disconnected && entry.text == address &&
                   untilDisconnected && connected) {
            break;
        } else if (entry.kind == Entry::Kind::Sentence && connected) {
            bytes += entry.text.size() + 2;
        }
    }
    return bytes;
}

std::size_t ReceiverLog::count(Entry::Kind kind, const std::string& text) const {
    return static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(),
        [&](const Entry& entry) { return entry.kind == kind && entry.text == text; }));
}

ProcessMemory processMemory(pid_t pid) {
    ProcessMemory memory;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (startsWith(line, "VmRSS:")) {
            memory.residentKiB = std::strtol(line.c_str() + 6, nullptr, 10);
        } else if (startsWith(line, "VmHWM:")) {
            memory.peakResidentKiB = std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return memory;
}

std::size_t openDescriptors(pid_t pid) {
    const std::filesystem::path table = "/proc/" + std::to_string(pid) + "/fd";
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(table),
                                                  std::filesystem::directory_iterator()));
}

bool onlyTunerReport(const std::string& standardError) {
    std::istringstream stream(standardError);
    for (std::string line; std::getline(stream, line);) {
        if (std::none_of(std::begin(tunerReportStarts), std::end(tunerReportStarts),
                         [&](const char* start) { return startsWith(line, start); })) {
            return false;
        }
    }
    return true;
}
