#pragma once

#include "format/message_format.hpp"
#include "sdr/sample_source.hpp"

#include <optional>

namespace keelwave::app {

/// The time of arrival of each burst, from its stream position at 288000 pairs per second:
/// anchored to the UTC time at which a live source's first block arrived, to the start time
/// the options give a recording, or else counted from the start of the recording. On the I/O
/// thread.
class ArrivalClock : public format::ArrivalClock {
public:
    /// `startMicroseconds`: the UTC start of a recording, microseconds since 1970, if given.
    explicit ArrivalClock(std::optional<int64_t> startMicroseconds);

    /// The source whose stream the positions are in; before the first message.
    void follow(sdr::SampleSource& streamSource) { source = &streamSource; }

    std::optional<double> secondsAt(int64_t streamPair) const override;
    bool utc() const override;

private:
    /// The anchor: the options' start, or the source's once it has one.
    std::optional<sdr::TimeAnchor> anchor() const;

    sdr::SampleSource* source = nullptr;
    const std::optional<int64_t> start;
    mutable std::optional<sdr::TimeAnchor> sourceAnchor;  ///< kept once the source has one
};

}  // namespace keelwave::app
