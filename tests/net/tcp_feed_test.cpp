// The TCP feed against real loopback listeners that go away, never read, or never answer, with
// its waits shortened.
#include "net/tcp_feed.hpp"
#include "tests/support/io_thread.hpp"

#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>

namespace keelwave::test {
namespace {

using namespace net;
using boost::asio::ip::tcp;
using std::chrono::milliseconds;

const FeedTiming shortWaits{milliseconds(50), milliseconds(200), milliseconds(300),
                            milliseconds(300), std::chrono::seconds(10)};

/// A listener on a loopback port; reopened on the same port after `close`.
struct Listener {
    explicit Listener(boost::asio::io_context& io) : acceptor(io) { open(0); }
    void open(unsigned short port, int backlog = boost::asio::socket_base::max_listen_connections) {
        acceptor.open(tcp::v4());
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.bind({boost::asio::ip::address_v4::loopback(), port});
        acceptor.listen(backlog);
    }
    unsigned short port() const { return acceptor.local_endpoint().port(); }
    tcp::acceptor acceptor;
};

std::vector<std::string> readLines(tcp::socket& peer, std::size_t count,
                                   boost::asio::streambuf& buffer) {
    std::vector<std::string> lines;
    std::istream text(&buffer);
    while (lines.size() < count) {
        boost::asio::read_until(peer, buffer, "\r\n");
        std::string line;
        std::getline(text, line);
        lines.push_back(line.substr(0, line.size() - 1));
    }
    return lines;
}

TEST(TcpFeed, AListenerThatGoesAndComesBackGetsTheNewestLinesInOrderAfterOneError) {
    LogCapture log;
    IoThread loop;
    boost::asio::io_context test;
    Listener listener(test);
    const unsigned short port = listener.port();
    // Room for three of the lines below while the listener is away.
    const auto feed = std::make_shared<TcpFeed>(loop.io, "127.0.0.1", port, false, shortWaits,
                                                3 * (sizeof(FeedQueue::Entry) + 11));
    loop.run([&] { feed->start(); });
    tcp::socket first(test);
    listener.acceptor.accept(first);
    ASSERT_TRUE(log.waitFor("INFO     tcp:127.0.0.1:" + std::to_string(port) +
                            ": connected to 127.0.0.1:" + std::to_string(port) + "\n"));
    loop.run([&] { feed->deliver({"line 0001", "line 0002"}); });
    boost::asio::streambuf buffer;
    EXPECT_EQ(readLines(first, 2, buffer), (std::vector<std::string>{"line 0001", "line 0002"}));

    first.close();
    listener.acceptor.close();
    ASSERT_TRUE(log.waitFor("ERROR    tcp:127.0.0.1:" + std::to_string(port) + ": "));
    for (int line = 3; line <= 8; ++line) {
        loop.run([&] { feed->deliver({"line 000" + std::to_string(line)}); });
        std::this_thread::sleep_for(milliseconds(100));  // several attempts fail meanwhile
    }
    EXPECT_EQ(log.text().find("ERROR", log.text().find("ERROR") + 1), std::string::npos);

    listener.open(port);
    tcp::socket second(test);
    listener.acceptor.accept(second);
    boost::asio::streambuf again;
    EXPECT_EQ(readLines(second, 3, again),
              (std::vector<std::string>{"line 0006", "line 0007", "line 0008"}));
    EXPECT_TRUE(log.waitFor(" s down, 3 lines dropped\n"));
    OutputCounts counts;
    for (int look = 0; look < 100 && counts.sent < 5; ++look) {  // the write's end may follow
        std::this_thread::sleep_for(milliseconds(10));
        loop.run([&] { counts = feed->counts(); });
    }
    EXPECT_EQ(counts.name, "tcp:127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(std::make_tuple(counts.sent, counts.queued, counts.dropped),
              std::make_tuple(5u, 0u, 3u));
    loop.run([&] { feed->stop(); });
}

TEST(TcpFeed, APeerThatNeverReadsOrNeverAnswersIsGivenUpAndTriedAgain) {
    struct Case {
        bool accepts;        // accepts and never reads; or its backlog is full: no answer
        const char* reason;  // logged once, however often it repeats
    };
    for (const Case c : {Case{true, "the peer took nothing for too long"},
                         Case{false, "no connection within the time allowed"}}) {
        SCOPED_TRACE(c.reason);
        LogCapture log;
        IoThread loop;
        boost::asio::io_context test;
        Listener listener(test);
        const unsigned short port = listener.port();
        listener.acceptor.close();
        listener.open(port, 0);
        // A small window: the stuck peer's buffers fill after a few kilobytes.
        listener.acceptor.set_option(boost::asio::socket_base::receive_buffer_size(4096));
        std::vector<tcp::socket> filling;  // connections nobody accepts fill the backlog
        for (int connection = 0; !c.accepts && connection < 3; ++connection) {
            filling.emplace_back(test, tcp::v4());
            const int descriptor = filling.back().native_handle();
            ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
            const tcp::endpoint listening(boost::asio::ip::address_v4::loopback(), port);
            ::connect(descriptor, listening.data(), listening.size());  // left in progress
        }
        const auto feed =
            std::make_shared<TcpFeed>(loop.io, "127.0.0.1", port, false, shortWaits, 64 * 1024);
        loop.run([&] { feed->start(); });
        tcp::socket stuck(test);
        if (c.accepts) {
            listener.acceptor.accept(stuck);
            for (int batch = 0; batch < 100; ++batch) {  // 8 MB: far more than any buffer
                loop.run([&] { feed->deliver(MessageLines(1000, std::string(78, 'x'))); });
            }
        }
        EXPECT_TRUE(log.waitFor("ERROR    tcp:127.0.0.1:" + std::to_string(port) + ": " + c.reason +
                                ", retrying with back-off\n"));
        std::this_thread::sleep_for(milliseconds(800));  // attempt after attempt
        OutputCounts counts;
        bool pending = false;
        loop.run([&] {
            counts = feed->counts();
            pending = feed->pending();
            feed->stop();
        });
        // One ERROR per outage: each connection the stuck peer's backlog takes ends in one,
        // attempts that go unanswered add none.
        const std::string text = log.text();
        const auto count = [&text](const std::string& what) {
            std::size_t found = 0;
            for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
                ++found;
            }
            return found;
        };
        EXPECT_LE(count("ERROR"), count(": connected to ") + 1);
        EXPECT_EQ(count(": connected to ") > 0, c.accepts);
        EXPECT_EQ(counts.dropped > 0, c.accepts);
        EXPECT_TRUE(c.accepts || !pending);  // the end of a recording waits for no dead feed
    }
}

}  // namespace
}  // namespace keelwave::test
