#include "sdr/file_source.hpp"

#include "base/tuner_stream.hpp"
#include "sdr/input_error.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <optional>
#include <thread>

namespace keelwave::sdr {

namespace {

/// How long the reader waits for input, or for the time to publish, before it looks at
/// `stopping` again: a channel's own wait, so that a stop during an idle pipe takes no longer
/// than stopping a channel.
constexpr std::chrono::milliseconds pollInterval{100};

}  // namespace

FileSource::FileSource(std::string inputPath, bool atRecordedPace)
    : SampleSource(ringBlocks, base::tunerTransferBytes),
      path(std::move(inputPath)),
      realtime(atRecordedPace),
      block(base::tunerTransferBytes) {}

FileSource::~FileSource() {
    stop();
    closeInput();
}

void FileSource::open() {
    closeInput();
    if (path == standardInputName) {
        fd = STDIN_FILENO;
        return;
    }
    // Without O_NONBLOCK a named pipe would block here until its writer appears, with the
    // signals still unheard; non-blocking, the reader thread waits for the writer in its poll,
    // where a stop reaches it. For a regular file the flag changes nothing.
    const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (opened < 0) {
        throw InputError(path, errno);
    }
    fd = opened;
    ownsInput = true;
}

void FileSource::startPublishing() {
    if (fd < 0) {
        throw InputError(path, EBADF);
    }
    thread = std::thread(&FileSource::runReader, this);
}

std::optional<std::string> FileSource::stopPublishing() {
    stopping = true;
    if (blocks()) {
        blocks()->halt();
    }
    if (thread.joinable()) {
        thread.join();
    }
    return std::nullopt;
}

void FileSource::runReader() {
    try {
        readToEnd();
    } catch (...) {
        // The input cannot go on: the run hears of it and ends.
        reportEnd(std::current_exception());
    }
}

void FileSource::readToEnd() {
    const auto start = std::chrono::steady_clock::now();
    uint64_t pairs = 0;  // read so far
    for (;;) {
        const std::optional<uint32_t> filled = fillBlock();
        if (!filled) {
            return;
        }
        // At the recorded pace a block is published once its last pair would have been
        // received, as the tuner hands over a transfer once it is full.
        pairs += *filled / 2;
        const std::chrono::duration<double> onAir(static_cast<double>(pairs) /
                                                  base::tunerPairsPerSecond);
        if (realtime &&
            !sleepUntil(start + std::chrono::duration_cast<std::chrono::nanoseconds>(onAir))) {
            return;
        }
        const bool ended = *filled < block.size();
        // Only the very end of the input can leave an odd byte: an I without its Q.
        if (!blocks()->publish(block.data(), *filled - *filled % 2, ended)) {
            return;
        }
        if (ended) {
            break;
        }
    }
    if (blocks()->drain()) {
        reportEnd();
    }
}

std::optional<uint32_t> FileSource::fillBlock() {
    // A pipe delivers whatever its writer wrote, odd lengths included. Filling the whole block
    // before publishing keeps every block even, so that each one starts with I, and gives the
    // channels the same blocks as the tuner would.
    std::size_t filled = 0;
    while (filled < block.size()) {
        if (!waitForInput()) {
            return std::nullopt;
        }
        const ssize_t got = ::read(fd, block.data() + filled, block.size() - filled);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            throw InputError(path, errno);
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return static_cast<uint32_t>(filled);
}

bool FileSource::waitForInput() {
    // A read could block for ever on a pipe whose writer is silent; polling first keeps the
    // reader answering to `stop`. Standard input is not switched to non-blocking reads, since
    // that flag would be shared with whoever else holds the descriptor.
    pollfd input{fd, POLLIN, 0};
    while (!stopping) {
        const int ready = ::poll(&input, 1, static_cast<int>(pollInterval.count()));
        if (ready > 0) {
            // Readable, or at its end, or in error: the read tells which.
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            throw InputError(path, errno);
        }
    }
    return false;
}

bool FileSource::sleepUntil(std::chrono::steady_clock::time_point deadline) {
    while (!stopping && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            deadline - std::chrono::steady_clock::now(), pollInterval));
    }
    return !stopping;
}

void FileSource::closeInput() {
    if (ownsInput) {
        ::close(fd);
    }
    fd = -1;
    ownsInput = false;
}

}  // namespace keelwave::sdr
