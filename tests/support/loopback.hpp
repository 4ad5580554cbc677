#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

/// Runs an io_service on its own thread, as the program's main thread does, until stopped.
class IoThread {
public:
    explicit IoThread(boost::asio::io_service& io);
    ~IoThread();

    /// Runs `task` on the I/O thread and waits for it to finish.
    void run(const std::function<void()>& task);
    /// Lets the loop return and joins the thread; pending handlers stay queued.
    void stop();

private:
    boost::asio::io_service& io;
    boost::asio::executor_work_guard<boost::asio::io_service::executor_type> work;
    std::thread thread;
};

/// A plain blocking TCP client on 127.0.0.1 for driving the server from a test thread.
class TestClient {
public:
    /// Connects to `port`; `receiveBufferBytes` > 0 shrinks the receive buffer first.
    explicit TestClient(unsigned short port, int receiveBufferBytes = 0);

    /// Our own end as the server writes it: "127.0.0.1:port".
    std::string address() const;
    /// Reads until `count` bytes have arrived, the peer closes or `timeout` passes.
    std::string read(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    /// Whatever has arrived, waiting at most `timeout` for something; empty at the end.
    std::string readAvailable(std::chrono::milliseconds timeout);
    /// Reads and discards until the peer closes; false if it has not closed by `timeout`.
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void send(const std::string& text);
    /// Closes with SO_LINGER 0, so the server's side sees a reset, not an orderly end.
    void reset();
    void close();
    /// Ends our sending side only: the server sees the end of the stream, we can still read.
    void shutdownSend();

private:
    boost::asio::io_service io;
    boost::asio::ip::tcp::socket socket;
};

/// A UDP socket bound to 127.0.0.1 on a system-chosen port, read with a timeout.
class UdpReceiver {
public:
    UdpReceiver();
    unsigned short port() const;
    /// The payload of the next datagram, or nothing if none arrives within `timeout`.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    boost::asio::io_service io;
    boost::asio::ip::udp::socket socket;
};

/// A TCP port that nothing listens on right now (the system's choice), for a server the test
/// starts in another process.
unsigned short freeTcpPort();
