#include "app/drop_watch.hpp"

#include "base/logger.hpp"

#include <utility>

namespace keelwave::app {

DropWatch::DropWatch(boost::asio::io_context& io, std::vector<Counter> watched)
    : timer(io), counters(std::move(watched)) {
    wait();
}

void DropWatch::wait() {
    timer.expires_after(period);
    timer.async_wait([this](const boost::system::error_code& error) {
        if (!error) {
            report(true);
            wait();
        }
    });
}

void DropWatch::reportEnd() {
    timer.cancel();
    report(false);
}

void DropWatch::report(bool periodic) {
    for (Counter& counter : counters) {
        const uint64_t dropped = counter.read();
        if (dropped <= counter.reported) {
            continue;
        }
        std::string text =
            "Dropped " + std::to_string(dropped - counter.reported) + " " + counter.things + " ";
        // The first report at the end of the run covers the whole run: no period to name.
        if (periodic || counter.reported > 0) {
            text += std::string(periodic ? "in the last minute" : "since the last report") + ", " +
                    std::to_string(dropped) + " ";
        }
        base::Logger::instance().log(base::Logger::WARNING, text + "in all: " + counter.reason);
        counter.reported = dropped;
    }
}

}  // namespace keelwave::app
