#include "app/stall_watch.hpp"

#include "base/logger.hpp"

#include <utility>

namespace keelwave::app {

StallWatch::StallWatch(boost::asio::io_context& io, std::function<uint64_t()> delivered,
                       std::function<void(const std::string&)> onStall)
    : timer(io),
      read(std::move(delivered)),
      stalled(std::move(onStall)),
      lastChange(std::chrono::steady_clock::now()) {
    wait();
}

void StallWatch::wait() {
    timer.expires_after(period);
    timer.async_wait([this](const boost::system::error_code& error) {
        if (error) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (const uint64_t count = read(); count != lastCount) {
            lastCount = count;
            lastChange = now;
        } else if (now - lastChange >= stallLimit) {
            const std::string limit = std::to_string(stallLimit.count()) + " s";
            base::Logger::instance().log(
                base::Logger::ERROR,
                "The tuner has delivered no sample for " + limit + ": stalled");
            stalled("the tuner stalled: no sample for " + limit);
            return;
        }
        wait();
    });
}

}  // namespace keelwave::app
