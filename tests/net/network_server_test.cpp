// The TCP server with real clients on the loopback address: every line to every client, whole
// and in order; a client that stops reading is dropped at the cap without holding up the rest.
// (Clients coming and going, half-closed ones and stops with clients connected are the
// end-to-end runs' and the soak's.)
#include "net/network_server.hpp"
#include "tests/support/io_thread.hpp"

#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

namespace keelwave::test {
namespace {

using namespace net;

using boost::asio::ip::tcp;

/// A blocking client; a small receive buffer makes one that falls behind at once.
struct Client {
    explicit Client(unsigned short port, int receiveBufferBytes = 0) : socket(io, tcp::v4()) {
        if (receiveBufferBytes > 0) {
            socket.set_option(tcp::socket::receive_buffer_size(receiveBufferBytes));
        }
        socket.connect({boost::asio::ip::address_v4::loopback(), port});
    }
    std::string address() const {
        return "127.0.0.1:" + std::to_string(socket.local_endpoint().port());
    }
    /// The next `count` lines without their "\r\n", fewer once the server ends the connection.
    std::vector<std::string> readLines(std::size_t count) {
        std::vector<std::string> lines;
        boost::system::error_code error;
        std::istream received(&buffer);
        while (lines.size() < count) {
            boost::asio::read_until(socket, buffer, "\r\n", error);
            if (error) {
                break;
            }
            std::getline(received, lines.emplace_back());
            lines.back().pop_back();  // the "\r"
        }
        return lines;
    }
    boost::asio::io_context io;
    tcp::socket socket;
    boost::asio::streambuf buffer;
};

std::string line(std::size_t number) {
    const std::string text = "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ," + std::to_string(number);
    return text + std::string(76 - text.size(), '0');
}

/// The texts of the captured log lines, after time stamp and level word.
std::vector<std::string> texts(const std::string& log) {
    std::vector<std::string> result;
    for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos;
         start = end + 1) {
        result.push_back(log.substr(start + 34, end - start - 34));
    }
    return result;
}

TEST(NetworkServer, AClientThatNeverReadsIsDroppedWhileTheOthersGetEveryLineInOrder) {
    LogCapture log;
    IoThread loop;
    const auto server = enableNetworkServer(loop.io, 0);
    Client chatty(server->localPort());
    Client reader(server->localPort());
    Client stalled(server->localPort(), 4096);
    ASSERT_TRUE(log.waitFor("INFO     Connected 127.0.0.1:", 3));
    boost::asio::write(chatty.socket, boost::asio::buffer("$PGRMO,,3*00\r\n"));  // ignored

    // Enough to fill the stalled client's socket buffers and its queue's cap several times.
    constexpr std::size_t lines = 60000;
    const auto readAll = [](Client& client) { return client.readLines(lines); };
    auto chattyGot = std::async(std::launch::async, readAll, std::ref(chatty));
    auto readerGot = std::async(std::launch::async, readAll, std::ref(reader));
    std::vector<std::string> expected;
    for (std::size_t number = 0; number < lines; number += 2) {
        // Messages of one and of two lines.
        const MessageLines message{line(number), line(number + 1)};
        boost::asio::post(loop.io, [&server, message] { server->deliver(message); });
        expected.insert(expected.end(), message.begin(), message.end());
        if (number % 100 == 0) {
            loop.run([] {});  // the loop has handed them on
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the readers keep up
        }
    }
    EXPECT_TRUE(chattyGot.get() == expected);
    EXPECT_TRUE(readerGot.get() == expected);
    EXPECT_LT(stalled.readLines(lines).size(), lines);  // the server has closed it
    EXPECT_TRUE(log.waitFor("INFO     Disconnected " + stalled.address() + "\n"));
    EXPECT_EQ(texts(log.text()).size(), 4u);
    loop.stop();  // as the run ends: the loop first, then the server it served
}

}  // namespace
}  // namespace keelwave::test
