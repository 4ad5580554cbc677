#pragma once

#include "net/line_output.hpp"

namespace keelwave::net {

/// The log as an output: each line becomes one INFO line of the console. With `holdBack`
/// (a recording, whose lines may not be lost) it takes lines only while the console's queue has
/// room for them.
class LogOutput : public LineOutput {
public:
    explicit LogOutput(bool holdLinesBack) : holdBack(holdLinesBack) {}

    void deliver(const MessageLines& lines) override;
    bool ready(std::size_t count) override;
    OutputCounts counts() const override { return {"log", logged, 0, 0, -1}; }

private:
    const bool holdBack;
    uint64_t logged = 0;
};

}  // namespace keelwave::net
