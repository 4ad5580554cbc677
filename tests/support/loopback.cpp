#include "tests/support/loopback.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <future>

namespace {

// Waits until `fd` is readable; false when `timeout` passes first.
bool waitReadable(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
}

const boost::asio::ip::address loopbackAddress = boost::asio::ip::address_v4::loopback();

}  // namespace

IoThread::IoThread(boost::asio::io_service& ioService)
    : io(ioService), work(boost::asio::make_work_guard(ioService)), thread([this] { io.run(); }) {}

IoThread::~IoThread() {
    stop();
}

void IoThread::run(const std::function<void()>& task) {
    std::promise<void> done;
    boost::asio::post(io, [&] {
        task();
        done.set_value();
    });
    done.get_future().wait();
}

void IoThread::stop() {
    if (thread.joinable()) {
        work.reset();
        io.stop();
        thread.join();
    }
}

TestClient::TestClient(unsigned short port, int receiveBufferBytes) : socket(io) {
    socket.open(boost::asio::ip::tcp::v4());
    if (receiveBufferBytes > 0) {
        socket.set_option(boost::asio::socket_base::receive_buffer_size(receiveBufferBytes));
    }
    socket.connect(boost::asio::ip::tcp::endpoint(loopbackAddress, port));
}

std::string TestClient::address() const {
    const auto local = socket.local_endpoint();
    return local.address().to_string() + ":" + std::to_string(local.port());
}

std::string TestClient::read(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string received;
    std::array<char, 65536> chunk;
    while (received.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitReadable(socket.native_handle(), left)) {
            break;
        }
        boost::system::error_code error;
        const std::size_t want = std::min(chunk.size(), count - received.size());
        const std::size_t got = socket.read_some(boost::asio::buffer(chunk.data(), want), error);
        if (error) {
            break;
        }
        received.append(chunk.data(), got);
    }
    return received;
}

std::string TestClient::readAvailable(std::chrono::milliseconds timeout) {
    std::array<char, 65536> chunk;
    if (!waitReadable(socket.native_handle(), timeout)) {
        return std::string();
    }
    boost::system::error_code error;
    const std::size_t got = socket.read_some(boost::asio::buffer(chunk), error);
    return std::string(chunk.data(), error ? 0 : got);
}

bool TestClient::waitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::array<char, 65536> chunk;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitReadable(socket.native_handle(), left)) {
            return false;
        }
        boost::system::error_code error;
        socket.read_some(boost::asio::buffer(chunk), error);
        if (error) {
            return true;
        }
    }
}

void TestClient::send(const std::string& text) {
    boost::asio::write(socket, boost::asio::buffer(text));
}

void TestClient::reset() {
    socket.set_option(boost::asio::socket_base::linger(true, 0));
    socket.close();
}

void TestClient::close() {
    socket.close();
}

void TestClient::shutdownSend() {
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_send);
}

UdpReceiver::UdpReceiver() : socket(io, boost::asio::ip::udp::endpoint(loopbackAddress, 0)) {}

unsigned short UdpReceiver::port() const {
    return socket.local_endpoint().port();
}

std::optional<std::string> UdpReceiver::receive(std::chrono::milliseconds timeout) {
    if (!waitReadable(socket.native_handle(), timeout)) {
        return std::nullopt;
    }
    std::array<char, 2048> datagram;
    boost::asio::ip::udp::endpoint sender;
    const std::size_t size = socket.receive_from(boost::asio::buffer(datagram), sender);
    return std::string(datagram.data(), size);
}

unsigned short freeTcpPort() {
    boost::asio::io_service io;
    boost::asio::ip::tcp::acceptor probe(
        io, boost::asio::ip::tcp::endpoint(boost::asio::ip::tcp::v4(), 0));
    return probe.local_endpoint().port();
}
