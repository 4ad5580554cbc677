#include "tests/soak/soak_load.hpp"

#include "tests/soak/soak_support.hpp"

#include <chrono>

namespace {

/// The longest pause of the churn between two steps; about 65 steps a second on average.
constexpr int churnPauseMaxMilliseconds = 30;
/// One churning close in four is a reset.
constexpr int churnResetOneIn = 4;
/// How long a resetting client reads nothing before it resets: long enough, at the higher
/// paces, for the server's send buffer to fill and its write to wait.
constexpr int resetHoldMinMilliseconds = 200;
constexpr int resetHoldMaxMilliseconds = 6000;
/// Garbage bursts: up to this many bytes, every 1 or 2 milliseconds.
constexpr int garbageBurstMaxBytes = 512;

/// Sleeps `duration` in slices, returning early (false) once `stopping` is set.
bool pause(std::chrono::milliseconds duration, const std::atomic<bool>& stopping) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (!stopping) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return true;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
    }
    return false;
}

int uniform(std::mt19937& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

}  // namespace

SoakClient::Options slowReaderOptions() {
    SoakClient::Options options;
    options.receiveBufferBytes = 2048;
    options.maxSegmentBytes = 536;
    return options;
}

ClientChurn::ClientChurn(unsigned short serverPort, int slots, unsigned seed)
    : port(serverPort),
      clients(static_cast<std::size_t>(slots)),
      random(seed),
      thread([this] { run(); }) {}

ClientChurn::~ClientChurn() {
    stop();
}

void ClientChurn::run() {
    while (
        pause(std::chrono::milliseconds(uniform(random, 0, churnPauseMaxMilliseconds)), stopping)) {
        auto& slot = clients[static_cast<std::size_t>(
            uniform(random, 0, static_cast<int>(clients.size()) - 1))];
        if (!slot) {
            slot = SoakClient::tryConnect(port, {});
        } else {
            closeSlot(slot, uniform(random, 1, churnResetOneIn) == 1);
        }
    }
}

void ClientChurn::closeSlot(std::unique_ptr<SoakClient>& slot, bool abortive) {
    // A new client's stream starts at a line boundary: every complete line must be whole.
    std::string received;
    slot->receive(received, std::chrono::milliseconds(0));
    std::string tail;
    for (const std::string& line : splitNetworkLines(received, &tail)) {
        if (!isWellFormedSentence(line)) {
            closed.malformed.push_back(line);
        }
    }
    closed.addresses.push_back(slot->address());
    if (abortive) {
        slot->reset();
        ++closed.resets;
    }
    slot.reset();
}

ClosedConnections ClientChurn::stop() {
    stopping = true;
    if (thread.joinable()) {
        thread.join();
        for (auto& slot : clients) {
            if (slot) {
                closeSlot(slot, false);
            }
        }
    }
    return closed;
}

ResettingClient::ResettingClient(unsigned short serverPort, unsigned seed)
    : port(serverPort), random(seed), thread([this] { run(); }) {}

ResettingClient::~ResettingClient() {
    stop();
}

void ResettingClient::run() {
    while (!stopping) {
        std::unique_ptr<SoakClient> client = SoakClient::tryConnect(port, slowReaderOptions());
        if (!client) {
            // Not listening yet, or any more.
            pause(std::chrono::milliseconds(5), stopping);
            continue;
        }
        pause(std::chrono::milliseconds(
                  uniform(random, resetHoldMinMilliseconds, resetHoldMaxMilliseconds)),
              stopping);
        closed.addresses.push_back(client->address());
        client->reset();
        ++closed.resets;
    }
}

ClosedConnections ResettingClient::stop() {
    stopping = true;
    if (thread.joinable()) {
        thread.join();
    }
    return closed;
}

GarbageSender::GarbageSender(SoakClient& connection, unsigned seed)
    : client(connection), random(seed), thread([this] {
          std::string burst;
          while (pause(std::chrono::milliseconds(uniform(random, 1, 2)), stopping)) {
              burst.resize(static_cast<std::size_t>(uniform(random, 1, garbageBurstMaxBytes)));
              for (char& byte : burst) {
                  byte = static_cast<char>(uniform(random, 0, 255));
              }
              burst += uniform(random, 0, 1) ? "\r\n" : std::string(1, '\0');
              const long taken = client.sendSome(burst);
              if (taken < 0) {
                  return;
              }
              sent += static_cast<std::size_t>(taken);
          }
      }) {}

GarbageSender::~GarbageSender() {
    stopping = true;
    thread.join();
}
