#include "net/file_output.hpp"

#include "base/logger.hpp"
#include "base/startup_error.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace keelwave::net {

namespace {
const std::string standardOutputPath = "-";
}

FileOutput::FileOutput(const std::string& filePath, bool holdLinesBack)
    : path(filePath), holdBack(holdLinesBack) {
    if (path == standardOutputPath) {
        return;
    }
    // Never blocking: a named pipe nobody reads costs its lines, not the outputs' thread.
    descriptor = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        throw base::StartupError(path + ": " + std::strerror(errno));
    }
}

FileOutput::~FileOutput() {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

bool FileOutput::ready(std::size_t count) {
    return descriptor >= 0 || !holdBack || base::Logger::instance().hasRoom(count);
}

void FileOutput::deliver(const MessageLines& lines) {
    if (descriptor < 0) {
        for (const std::string& line : lines) {
            base::Logger::instance().print(line);
        }
        written += lines.size();
        return;
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line + '\n';
    }
    ssize_t result = 0;
    do {
        result = ::write(descriptor, text.data(), text.size());
    } while (result < 0 && errno == EINTR);
    if (result == static_cast<ssize_t>(text.size())) {
        written += lines.size();
        if (failing) {
            failing = false;
            base::Logger::instance().log(base::Logger::INFO, "Writing " + path + " again");
        }
        return;
    }
    lost += lines.size();
    if (!failing) {
        failing = true;
        const std::string reason = result < 0 ? std::strerror(errno) : "written in part";
        base::Logger::instance().log(base::Logger::ERROR,
                                     "Cannot write " + path + ": " + reason + ", lines lost");
    }
}

OutputCounts FileOutput::counts() const {
    return {path == standardOutputPath ? "file:-" : "file:" + path, written, 0, lost, -1};
}

}  // namespace keelwave::net
