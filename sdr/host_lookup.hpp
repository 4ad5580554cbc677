#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace keelwave::sdr {

/// Looks a host up on a thread of its own, whose answer comes back through an I/O context. The
/// system's resolver may take many seconds over a name while the network is down; neither
/// the context's thread nor its stop waits for it meanwhile: an abandoned lookup finishes
/// unheard. The thread calls getaddrinfo and nothing of Boost.Asio's, so that one still
/// running when the process exits touches nothing the exit tears down.
class HostLookup {
public:
    /// Told why the lookup failed (empty if it did not) and the addresses found.
    using Handler = std::function<void(const std::string& failure,
                                       const std::vector<boost::asio::ip::tcp::endpoint>&)>;

    explicit HostLookup(boost::asio::io_context& context) : io(context) {}
    /// Abandons the lookup under way, if any.
    ~HostLookup() { abandon(); }
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    /// On the context's thread: abandons the lookup under way and starts one of `host` and `port`;
    /// `handler` runs on the context's thread with its outcome, unless abandoned first. Throws
    /// std::system_error when no thread can be created.
    void start(const std::string& host, uint16_t port, Handler handler);

    /// From now on the lookup under way delivers nothing; returns at once. The owner's thread,
    /// or any once that thread has ended.
    void abandon();

private:
    /// What a lookup's thread shares with its owner: whether anyone still listens.
    struct Pending {
        std::mutex lock;  ///< guards abandoned, and the post to the context it allows
        bool abandoned = false;
    };

    boost::asio::io_context& io;
    std::shared_ptr<Pending> pending;
};

}  // namespace keelwave::sdr
