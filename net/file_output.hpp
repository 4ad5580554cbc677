#pragma once

#include "net/line_output.hpp"

#include <cstdint>
#include <string>

namespace keelwave::net {

/// Lines appended to a file, each ended by a line feed, a message's lines in one write; or,
/// for the path "-", printed on standard output without the log's time stamps, in order with
/// the log. A file that cannot take a message (a full disk, a pipe nobody reads) loses it and
/// says so once until writing works again; decoding never waits for it.
class FileOutput : public LineOutput {
public:
    /// Opens `path` for appending, creating it; throws base::StartupError ("Error: PATH: the
    /// system's reason") if it cannot. `holdBack`: standard output of a recording, which may
    /// hold lines back but never lose them.
    FileOutput(const std::string& path, bool holdBack);
    ~FileOutput() override;
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    void deliver(const MessageLines& lines) override;
    bool ready(std::size_t count) override;
    OutputCounts counts() const override;

private:
    const std::string path;
    const bool holdBack;
    int descriptor = -1;   ///< -1: standard output, through the log's writer
    bool failing = false;  ///< the last write failed and was reported
    uint64_t written = 0;
    uint64_t lost = 0;
};

}  // namespace keelwave::net
