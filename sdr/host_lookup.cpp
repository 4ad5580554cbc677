#include "sdr/host_lookup.hpp"

#include <boost/asio/post.hpp>

#include <netdb.h>
#include <sys/socket.h>

#include <cstring>
#include <thread>
#include <utility>

namespace keelwave::sdr {

namespace {

using Endpoints = std::vector<boost::asio::ip::tcp::endpoint>;

/// The TCP addresses of `host`, or why there are none.
std::string lookUp(const std::string& host, uint16_t port, Endpoints& found) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* answers = nullptr;
    if (const int failed =
            ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &answers)) {
        return ::gai_strerror(failed);
    }
    for (const addrinfo* answer = answers; answer != nullptr; answer = answer->ai_next) {
        boost::asio::ip::tcp::endpoint address;
        if (answer->ai_addrlen <= address.capacity()) {
            std::memcpy(address.data(), answer->ai_addr, answer->ai_addrlen);
            address.resize(answer->ai_addrlen);
            found.push_back(address);
        }
    }
    ::freeaddrinfo(answers);
    return found.empty() ? "no address" : "";
}

}  // namespace

void HostLookup::start(const std::string& host, uint16_t port, Handler handler) {
    abandon();
    auto shared = std::make_shared<Pending>();
    std::thread([shared, &context = io, host, port, handler = std::move(handler)] {
        Endpoints found;
        const std::string failure = lookUp(host, port, found);
        const std::lock_guard<std::mutex> guard(shared->lock);
        if (!shared->abandoned) {
            // The owner abandons the lookup before its context goes: posting is safe here.
            boost::asio::post(context, [handler, failure, found] { handler(failure, found); });
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
