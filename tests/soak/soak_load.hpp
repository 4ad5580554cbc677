#pragma once

#include "tests/soak/soak_client.hpp"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

/// The connections a load thread made and has closed again, by the address the server logs.
struct ClosedConnections {
    std::vector<std::string> addresses;
    std::size_t resets = 0;  ///< of them, closed with a reset rather than an orderly close
    /// Complete lines that such a client received and that were not whole sentences.
    std::vector<std::string> malformed;
};

/// `slots` clients that connect and disconnect at random: every few milliseconds one slot,
/// picked at random, either connects or, if connected, reads what has arrived and closes,
/// orderly or with a reset. Runs on its own thread from construction to `stop`.
class ClientChurn {
public:
    ClientChurn(unsigned short port, int slots, unsigned seed);
    ~ClientChurn();
    ClientChurn(const ClientChurn&) = delete;
    ClientChurn& operator=(const ClientChurn&) = delete;

    /// Ends the churn, closes every connection still open and returns them all.
    ClosedConnections stop();

private:
    void run();
    void closeSlot(std::unique_ptr<SoakClient>& slot, bool abortive);

    unsigned short port;
    std::vector<std::unique_ptr<SoakClient>> clients;
    std::mt19937 random;
    ClosedConnections closed;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

/// A client that connects with a tiny receive window, reads nothing for a random while, so
/// that the server's writes to it back up, and then resets the connection in the middle of
/// them; over and over.
class ResettingClient {
public:
    ResettingClient(unsigned short port, unsigned seed);
    ~ResettingClient();
    ResettingClient(const ResettingClient&) = delete;
    ResettingClient& operator=(const ResettingClient&) = delete;

    ClosedConnections stop();

private:
    void run();

    unsigned short port;
    std::mt19937 random;
    ClosedConnections closed;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

/// Sends random bytes (line ends and NULs among them) to the server without pause, a short
/// burst every millisecond or two, on the connection of a client that reads on its own thread.
class GarbageSender {
public:
    GarbageSender(SoakClient& connection, unsigned seed);
    ~GarbageSender();
    GarbageSender(const GarbageSender&) = delete;
    GarbageSender& operator=(const GarbageSender&) = delete;

    /// Bytes the socket has taken so far.
    std::size_t bytesSent() const { return sent; }

private:
    SoakClient& client;
    std::mt19937 random;
    std::atomic<std::size_t> sent{0};
    std::atomic<bool> stopping{false};
    std::thread thread;
};

/// The options of a client that should fall behind as early as possible: a receive buffer of
/// 2 KiB and 536-byte segments keep both its own and the server's socket buffers small (on
/// loopback the server's send buffer otherwise grows to megabytes).
SoakClient::Options slowReaderOptions();
