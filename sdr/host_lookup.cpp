#include "sdr/host_lookup.hpp"

#include <boost/asio/post.hpp>

#include <thread>
#include <utility>

namespace keelwave::sdr {

void HostLookup::start(const std::string& host, uint16_t port, Handler handler) {
    abandon();
    auto shared = std::make_shared<Pending>();
    std::thread([shared, &context = io, host, port, handler = std::move(handler)] {
        // A blocking lookup on a context of its own: getaddrinfo on this thread.
        boost::asio::io_context own;
        boost::asio::ip::tcp::resolver resolver(own);
        boost::system::error_code error;
        auto results = resolver.resolve(host, std::to_string(port), error);
        const std::lock_guard<std::mutex> guard(shared->lock);
        if (!shared->abandoned) {
            // The owner abandons the lookup before its context goes: posting is safe here.
            boost::asio::post(context, [handler, error, results] { handler(error, results); });
        }
    }).detach();
    pending = std::move(shared);
}

void HostLookup::abandon() {
    if (pending) {
        const std::lock_guard<std::mutex> guard(pending->lock);
        pending->abandoned = true;
    }
    pending.reset();
}

}  // namespace keelwave::sdr
