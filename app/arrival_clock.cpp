#include "app/arrival_clock.hpp"

#include "base/tuner_stream.hpp"

namespace keelwave::app {

namespace {
constexpr double microsecondsPerSecond = 1e6;
}

ArrivalClock::ArrivalClock(std::optional<int64_t> startMicroseconds) : start(startMicroseconds) {}

std::optional<sdr::TimeAnchor> ArrivalClock::anchor() const {
    if (start) {
        return sdr::TimeAnchor{*start, 0};
    }
    if (!sourceAnchor && source != nullptr) {
        sourceAnchor = source->timeAnchor();
    }
    return sourceAnchor;
}

bool ArrivalClock::utc() const {
    return anchor().has_value();
}

std::optional<double> ArrivalClock::secondsAt(int64_t streamPair) const {
    if (streamPair < 0) {
        return std::nullopt;
    }
    const std::optional<sdr::TimeAnchor> known = anchor();
    const double fromAnchor =
        static_cast<double>(streamPair - (known ? known->pair : 0)) / base::tunerPairsPerSecond;
    return known ? static_cast<double>(known->utcMicroseconds) / microsecondsPerSecond + fromAnchor
                 : fromAnchor;
}

}  // namespace keelwave::app
