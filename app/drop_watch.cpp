#include "app/drop_watch.hpp"

#include "app/logger.hpp"

#include <string>

namespace keelwave::app {

DropWatch::DropWatch(boost::asio::io_service& io, const sdr::SampleSource& watched)
    : timer(io), source(watched) {
    wait();
}

void DropWatch::wait() {
    timer.expires_after(period);
    timer.async_wait([this](const boost::system::error_code& error) {
        if (!error) {
            report("in the last minute");
            wait();
        }
    });
}

void DropWatch::reportEnd() {
    report(reported > 0 ? "since the last report" : nullptr);
}

void DropWatch::report(const char* since) {
    const uint64_t dropped = source.droppedBlocks();
    if (dropped <= reported) {
        return;
    }
    std::string text = "Dropped " + std::to_string(dropped - reported) + " raw blocks ";
    if (since != nullptr) {
        text += std::string(since) + ", " + std::to_string(dropped) + " ";
    }
    Logger::instance().log(Logger::WARNING, text + "in all: the channels could not keep up");
    reported = dropped;
}

}  // namespace keelwave::app
