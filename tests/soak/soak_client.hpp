#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

/// A TCP client of the receiver on 127.0.0.1, on a plain socket so that a test can shape it
/// the way misbehaving peers are: a tiny receive window, a small segment size, an abortive
/// close. Reading and sending may happen on two threads at once.
class SoakClient {
public:
    struct Options {
        int receiveBufferBytes = 0;  ///< SO_RCVBUF before connecting; 0 keeps the system's
        /// TCP_MAXSEG before connecting: the segment size the client announces, which also
        /// bounds how far the server's send buffer grows for it; 0 keeps the system's.
        int maxSegmentBytes = 0;
    };

    /// Null when nothing accepts connections on `port` (yet).
    static std::unique_ptr<SoakClient> tryConnect(unsigned short port, Options options);
    /// Retries until the port accepts or `timeout` passes; null then.
    static std::unique_ptr<SoakClient> connectWhenListening(unsigned short port, Options options,
                                                            std::chrono::milliseconds timeout);

    ~SoakClient();
    SoakClient(const SoakClient&) = delete;
    SoakClient& operator=(const SoakClient&) = delete;

    /// Our own end as the server logs it: "127.0.0.1:port".
    const std::string& address() const { return local; }

    /// Waits up to `timeout` for data and appends everything that has arrived to `into`. False
    /// once the server has closed or reset the connection.
    bool receive(std::string& into, std::chrono::milliseconds timeout);

    /// Sends as much of `bytes` as the socket takes without waiting: the bytes taken, or -1
    /// once the connection is broken.
    long sendSome(const std::string& bytes);

    /// Closes with SO_LINGER 0: the server sees a reset, also in the middle of a write to us.
    void reset();

private:
    explicit SoakClient(int socket);

    int fd;
    std::string local;
};

/// A client that reads everything the server sends on a thread of its own until the server
/// closes the connection or `finish` is called.
class ReadingClient {
public:
    explicit ReadingClient(std::unique_ptr<SoakClient> connection);
    ~ReadingClient();
    ReadingClient(const ReadingClient&) = delete;
    ReadingClient& operator=(const ReadingClient&) = delete;

    const std::string& address() const { return client->address(); }
    SoakClient& connection() { return *client; }

    /// Complete lines ("\r\n") received so far.
    std::size_t lineCount();
    /// Everything received so far.
    std::string snapshot();
    /// Waits up to `timeout` for the server to close the connection; true if it did.
    bool waitForClose(std::chrono::milliseconds timeout);
    /// Stops reading (at the latest after one 100 ms wait) and returns everything received.
    std::string finish();

private:
    void readUntilClosed();

    std::unique_ptr<SoakClient> client;
    std::mutex lock;
    std::string received;
    std::size_t lines = 0;
    std::atomic<bool> closedByServer{false};
    std::atomic<bool> stopping{false};
    std::thread reader;
};
