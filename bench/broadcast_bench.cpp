// What handing a message to the TCP server costs a channel thread, and how fast the I/O thread
// serves 1, 10 and 100 loopback clients, and the clients with one that has stopped reading. A
// message goes through the hand-off as a chain's do; only the hand-over is timed (it is all the
// channel threads pay); every `drainEvery` lines the bench waits, untimed, until no reading
// client is more than `maxBacklogLines` behind, so their queues stay far below the cap. The
// hand-off waits for room rather than dropping, as it does for a recording, so that every
// line is counted.
//
// Counters: items_per_second = messages handed over per second of call time; p50_ns, p99_ns,
// max_ns = the hand-over's duration; first_p50_ns/last_p50_ns = the median in the first and last
// `windowLines` lines (a stuck client's queue fills, then it is dropped, in between);
// delivered_lines_per_s = lines per second of wall time with every reading client served.
#include "app/message_hand_off.hpp"
#include "format/nmea_format.hpp"
#include "net/network_server.hpp"

#include <benchmark/benchmark.h>
#include <boost/asio/executor_work_guard.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace keelwave::net;
using keelwave::ais::AisMessage;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t lineBytes = 78;  // the longest sentence and "\r\n"
constexpr std::size_t drainEvery = 256;
constexpr std::size_t maxBacklogLines = 4096;  // 320 KB, under a third of the queue cap
constexpr std::size_t windowLines = 10000;
constexpr std::int64_t runLines = 100000;  // past the point where a non-reader is dropped
constexpr int stuckReceiveBufferBytes = 4096;
constexpr std::size_t handOffMessages = 1024;

// A real sentence padded to the longest a line can be, "\r\n" to come.
AisMessage longestMessage() {
    std::string text = "!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26";
    text.resize(lineBytes - 2, ' ');
    AisMessage message;
    message.sentenceCount = 1;
    std::memcpy(message.sentences[0], text.c_str(), text.size() + 1);
    return message;
}

const AisMessage message = longestMessage();

void handOver(keelwave::app::MessageHandOff& handOff) {
    const keelwave::ais::MessageSink sink = handOff.sink();
    sink.callback(sink.context, message);
}

int connectTo(unsigned short port, int receiveBufferBytes) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBufferBytes > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot connect to the server");
    }
    return fd;
}

/// Loopback clients: the reading ones are drained by one thread polling them all; the stuck
/// ones never read.
class Clients {
public:
    Clients(unsigned short port, int reading, int stuck) : received(reading) {
        for (int i = 0; i < reading; ++i) {
            readingFds.push_back(connectTo(port, 0));
        }
        for (int i = 0; i < stuck; ++i) {
            stuckFds.push_back(connectTo(port, stuckReceiveBufferBytes));
        }
        reader = std::thread([this] { drain(); });
    }

    ~Clients() {
        running = false;
        reader.join();
        for (const int fd : readingFds) {
            ::close(fd);
        }
        for (const int fd : stuckFds) {
            ::close(fd);
        }
    }

    /// Hands messages over until every client has been accepted, then takes the counts as zero.
    void waitUntilServed(keelwave::app::MessageHandOff& handOff) {
        while (!allServed()) {
            handOver(handOff);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (auto& count : received) {
            baseline.push_back(count.load());
        }
    }

    /// Waits until every reading client has received `lines` lines since it was served.
    void waitForLines(std::size_t lines) {
        for (std::size_t i = 0; i < received.size(); ++i) {
            while (received[i].load() < baseline[i] + lines * lineBytes) {
                std::this_thread::yield();
            }
        }
    }

private:
    bool allServed() {
        for (const auto& count : received) {
            if (count.load() == 0) {
                return false;
            }
        }
        for (const int fd : stuckFds) {
            int waiting = 0;
            if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting == 0) {
                return false;
            }
        }
        return true;
    }

    void drain() {
        std::vector<pollfd> entries;
        for (const int fd : readingFds) {
            entries.push_back(pollfd{fd, POLLIN, 0});
        }
        std::vector<char> chunk(65536);
        while (running) {
            if (::poll(entries.data(), entries.size(), 10) <= 0) {
                continue;
            }
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].revents & POLLIN) {
                    const ssize_t got = ::recv(entries[i].fd, chunk.data(), chunk.size(), 0);
                    if (got > 0) {
                        received[i] += static_cast<std::size_t>(got);
                    }
                }
            }
        }
    }

    std::vector<int> readingFds;
    std::vector<int> stuckFds;
    std::vector<std::atomic<std::size_t>> received;
    std::vector<std::size_t> baseline;
    std::atomic<bool> running{true};
    std::thread reader;
};

void broadcastTo(benchmark::State& state, int reading, int stuck) {
    boost::asio::io_context io;
    auto work = boost::asio::make_work_guard(io);
    auto server = std::make_unique<NetworkServer>(io, 0);
    keelwave::format::NmeaFormat nmea;
    keelwave::app::MessageHandOff handOff(io, handOffMessages, true);
    handOff.addDestination(nmea, *server);
    std::thread ioThread([&io] { io.run(); });
    {
        Clients clients(server->localPort(), reading, stuck);
        clients.waitUntilServed(handOff);
        std::vector<double> callSeconds;
        callSeconds.reserve(static_cast<std::size_t>(state.max_iterations));
        const auto wallStart = Clock::now();
        for (auto _ : state) {
            const auto start = Clock::now();
            handOver(handOff);
            const std::chrono::duration<double> took = Clock::now() - start;
            state.SetIterationTime(took.count());
            callSeconds.push_back(took.count());
            if (callSeconds.size() % drainEvery == 0 && callSeconds.size() > maxBacklogLines) {
                clients.waitForLines(callSeconds.size() - maxBacklogLines);
            }
        }
        clients.waitForLines(callSeconds.size());
        const std::chrono::duration<double> wall = Clock::now() - wallStart;

        // Medians and tails: on a busy two-core machine a mean mostly measures preemption.
        const auto quantile = [](std::vector<double> seconds, double q) {
            const auto at = seconds.begin() + static_cast<std::ptrdiff_t>(q * (seconds.size() - 1));
            std::nth_element(seconds.begin(), at, seconds.end());
            return *at * 1e9;
        };
        const std::size_t window = std::min(windowLines, callSeconds.size());
        const std::vector<double> first(callSeconds.begin(), callSeconds.begin() + window);
        const std::vector<double> last(callSeconds.end() - window, callSeconds.end());
        state.SetItemsProcessed(static_cast<std::int64_t>(callSeconds.size()));
        state.counters["p50_ns"] = quantile(callSeconds, 0.5);
        state.counters["p99_ns"] = quantile(callSeconds, 0.99);
        state.counters["max_ns"] = quantile(callSeconds, 1.0);
        state.counters["first_p50_ns"] = quantile(first, 0.5);
        state.counters["last_p50_ns"] = quantile(last, 0.5);
        state.counters["delivered_lines_per_s"] =
            static_cast<double>(callSeconds.size()) / wall.count();
    }
    handOff.halt();
    work.reset();
    io.stop();
    ioThread.join();
}

void BM_Broadcast(benchmark::State& state) {
    broadcastTo(state, static_cast<int>(state.range(0)), 0);
}

void BM_BroadcastWithStuckClient(benchmark::State& state) {
    broadcastTo(state, static_cast<int>(state.range(0)), 1);
}

}  // namespace

BENCHMARK(BM_Broadcast)
    ->ArgName("clients")
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Iterations(runLines)
    ->UseManualTime();
BENCHMARK(BM_BroadcastWithStuckClient)
    ->ArgName("reading")
    ->Arg(10)
    ->Iterations(runLines)
    ->UseManualTime();
