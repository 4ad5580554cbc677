#include "net/udp_connect.hpp"

#include "base/logger.hpp"

#include <boost/asio/error.hpp>

namespace keelwave::net {

UdpConnect::UdpConnect(boost::asio::io_context& ioService, const std::string& hostName,
                       int destinationPort, std::chrono::steady_clock::duration resolveTimeoutTime,
                       std::chrono::steady_clock::duration reconnectDelayTime)
    : port(destinationPort),
      socket(ioService, boost::asio::ip::udp::v4()),
      resolver(ioService),
      timer(ioService),
      resolveTimeout(resolveTimeoutTime),
      reconnectDelay(reconnectDelayTime),
      host(hostName),
      endpoint(boost::asio::ip::udp::v4(), 0) {}

void UdpConnect::connect() {
    // Only the address is wanted: "http" just makes the query well formed, and `port` replaces
    // whatever port it yields. An empty host goes to the lookup as no name at all, which
    // yields the loopback addresses. "Address configured" is not asked for: the loopback
    // address does not count as configured, so on a machine without a network even
    // "127.0.0.1" and "localhost" would never resolve, and a receiver feeding a program on the
    // same machine would send nothing.
    using Resolver = boost::asio::ip::tcp::resolver;
    resolver.async_resolve(host, "http", Resolver::flags(),
                           [self = shared_from_this()](const boost::system::error_code& error,
                                                       const Resolver::results_type& results) {
                               self->handleResolve(error, results);
                           });
    timer.expires_after(resolveTimeout);
    timer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        self->handleResolveTimeout(error);
    });
}

void UdpConnect::handleResolve(const boost::system::error_code& error,
                               const boost::asio::ip::tcp::resolver::results_type& results) {
    // Only a timeout or `stop` cancels a lookup. After a timeout the retry it scheduled stands:
    // cancelling it here would end the retries for good.
    if (stopped || error == boost::asio::error::operation_aborted) {
        return;
    }
    // Whatever wait is pending now (this lookup's timeout or, after a late answer, a
    // reconnect wait) is over.
    timer.cancel();
    if (!error && !results.empty()) {
        // IPv4 wherever the host has it, as when only IPv4 was looked up.
        auto chosen = results.begin();
        for (auto entry = results.begin(); entry != results.end(); ++entry) {
            if (entry->endpoint().address().is_v4()) {
                chosen = entry;
                break;
            }
        }
        boost::system::error_code unusable;
        if (setDestination(chosen->endpoint().address(), unusable)) {
            return;
        }
        // No socket for the host's protocol (IPv6 turned off): as if a send had failed.
        base::Logger::instance().log(base::Logger::ERROR,
                                     "UDP send error " + unusable.message() + "\n");
        scheduleReconnect();
        return;
    }
    const boost::system::error_code reason = error ? error : boost::asio::error::host_not_found;
    base::Logger::instance().log(base::Logger::ERROR,
                                 "Can't resolve host " + host + " " + reason.message() + "\n");
    scheduleReconnect();
}

bool UdpConnect::setDestination(const boost::asio::ip::address& address,
                                boost::system::error_code& error) {
    const boost::asio::ip::udp::endpoint destination(address,
                                                     static_cast<unsigned short>(port & 0xFFFF));
    destinationKnown = false;
    boost::system::error_code unknown;
    if (!socket.is_open() || socket.local_endpoint(unknown).protocol() != destination.protocol()) {
        // Sends still in flight on the old socket end with the cancellation error.
        socket.close(unknown);
        socket.open(destination.protocol(), error);
        if (error) {
            return false;
        }
    }
    endpoint = destination;
    destinationKnown = true;
    return true;
}

void UdpConnect::handleResolveTimeout(const boost::system::error_code& error) {
    if (stopped || error == boost::asio::error::operation_aborted) {
        return;
    }
    if (error) {
        base::Logger::instance().log(base::Logger::ERROR,
                                     "Error resolver timer " + error.message() + "\n");
        return;
    }
    // A lookup that has not begun ends with the cancellation error; one already under way
    // still delivers its answer to handleResolve.
    resolver.cancel();
    base::Logger::instance().log(base::Logger::ERROR, "Resolve host " + host + " timeout\n");
    scheduleReconnect();
}

void UdpConnect::scheduleReconnect() {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(reconnectDelay);
    base::Logger::instance().log(base::Logger::INFO,
                                 "Try resolve in " + std::to_string(seconds.count()) + " seconds");
    timer.expires_after(reconnectDelay);
    timer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        self->handleReconnectTimer(error);
    });
}

void UdpConnect::handleReconnectTimer(const boost::system::error_code& error) {
    if (stopped || error == boost::asio::error::operation_aborted) {
        return;
    }
    if (error) {
        base::Logger::instance().log(base::Logger::ERROR,
                                     "UDP Connect reconnect timer error " + error.message());
        return;
    }
    connect();
}

void UdpConnect::deliver(const MessageLines& lines) {
    for (const std::string& line : lines) {
        send(line + "\r\n");
    }
}

void UdpConnect::send(const std::string& text) {
    if (stopped || !destinationKnown) {
        ++dropped;
        return;
    }
    // The datagram's bytes must outlive this call: the handler owns them until the send ends.
    const auto datagram = std::make_shared<const std::string>(text);
    ++sendsInFlight;
    socket.async_send_to(
        boost::asio::buffer(*datagram), endpoint,
        [self = shared_from_this(), datagram](const boost::system::error_code& error, std::size_t) {
            --self->sendsInFlight;
            ++(error ? self->dropped : self->sent);
            self->handleSend(error);
        });
}

void UdpConnect::handleSend(const boost::system::error_code& error) {
    if (stopped || !error || error == boost::asio::error::operation_aborted) {
        return;
    }
    base::Logger::instance().log(base::Logger::ERROR, "UDP send error " + error.message() + "\n");
    destinationKnown = false;
    scheduleReconnect();
}

OutputCounts UdpConnect::counts() const {
    const bool v6 = host.find(':') != std::string::npos;
    return {"udp:" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port), sent,
            sendsInFlight, dropped, -1};
}

void UdpConnect::stop() {
    if (stopped) {
        return;
    }
    stopped = true;
    destinationKnown = false;
    timer.cancel();
    resolver.cancel();
}

}  // namespace keelwave::net
