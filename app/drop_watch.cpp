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
        if (error) {
            return;
        }
        const uint64_t dropped = source.droppedBlocks();
        if (dropped > reported) {
            Logger::instance().log(
                Logger::WARNING, "Dropped " + std::to_string(dropped - reported) +
                                     " raw blocks in the last minute, " + std::to_string(dropped) +
                                     " in all: the channels could not keep up");
            reported = dropped;
        }
        wait();
    });
}

}  // namespace keelwave::app
