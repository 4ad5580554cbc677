#include "tests/soak/soak_client.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

/// How long one wait of a reading thread lasts before it looks whether it should stop.
constexpr std::chrono::milliseconds readSlice{100};

void setOption(int fd, int level, int name, int value) {
    if (value > 0 && ::setsockopt(fd, level, name, &value, sizeof value) != 0) {
        throw std::runtime_error(std::string("setsockopt: ") + std::strerror(errno));
    }
}

std::string localAddress(int fd) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(local.sin_port));
}

}  // namespace

std::unique_ptr<SoakClient> SoakClient::tryConnect(unsigned short port, Options options) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    std::unique_ptr<SoakClient> client(new SoakClient(fd));
    setOption(fd, SOL_SOCKET, SO_RCVBUF, options.receiveBufferBytes);
    setOption(fd, IPPROTO_TCP, TCP_MAXSEG, options.maxSegmentBytes);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
        return nullptr;
    }
    client->local = localAddress(fd);
    return client;
}

std::unique_ptr<SoakClient> SoakClient::connectWhenListening(unsigned short port, Options options,
                                                             std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto client = tryConnect(port, options)) {
            return client;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

SoakClient::SoakClient(int socket) : fd(socket) {}

SoakClient::~SoakClient() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool SoakClient::receive(std::string& into, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) {
        return true;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            into.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        return got < 0 && (errno == EAGAIN || errno == EINTR);
    }
}

long SoakClient::sendSome(const std::string& bytes) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
        return static_cast<long>(sent);
    }
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

void SoakClient::reset() {
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(fd);
    fd = -1;
}

ReadingClient::ReadingClient(std::unique_ptr<SoakClient> connection)
    : client(std::move(connection)), reader([this] { readUntilClosed(); }) {}

ReadingClient::~ReadingClient() {
    finish();
}

void ReadingClient::readUntilClosed() {
    std::string chunk;
    while (!stopping) {
        chunk.clear();
        const bool open = client->receive(chunk, readSlice);
        if (!chunk.empty()) {
            std::lock_guard<std::mutex> guard(lock);
            received += chunk;
            lines += static_cast<std::size_t>(std::count(chunk.begin(), chunk.end(), '\n'));
        }
        if (!open) {
            closedByServer = true;
            return;
        }
    }
}

std::size_t ReadingClient::lineCount() {
    std::lock_guard<std::mutex> guard(lock);
    return lines;
}

std::string ReadingClient::snapshot() {
    std::lock_guard<std::mutex> guard(lock);
    return received;
}

bool ReadingClient::waitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closedByServer && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return closedByServer;
}

std::string ReadingClient::finish() {
    stopping = true;
    if (reader.joinable()) {
        reader.join();
    }
    std::lock_guard<std::mutex> guard(lock);
    return received;
}
