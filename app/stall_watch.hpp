#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace keelwave::app {

/// Ends the run when the tuner stalls. A dongle on a weak USB supply or behind a hub may stop
/// delivering without any error; a receiver that then stays alive and silent keeps its status,
/// and no supervisor ever restarts it. Once a second, on the I/O thread, the watch reads how
/// many blocks the source has delivered, a count its ring keeps anyway, so that it costs
/// nothing per sample; when the count has not moved for 10 s it logs an ERROR line and calls
/// its handler once.
class StallWatch {
public:
    /// `delivered` reads the source's count; `onStall` is told why the run must end.
    StallWatch(boost::asio::io_context& io, std::function<uint64_t()> delivered,
               std::function<void(const std::string&)> onStall);

    static constexpr std::chrono::seconds stallLimit{10};

private:
    void wait();

    static constexpr std::chrono::seconds period{1};

    boost::asio::steady_timer timer;
    std::function<uint64_t()> read;
    std::function<void(const std::string&)> stalled;
    uint64_t lastCount = 0;
    std::chrono::steady_clock::time_point lastChange;
};

}  // namespace keelwave::app
