#include "sdr/file_source.hpp"

#include "sdr/input_error.hpp"
#include "sdr/tuner_slot.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <optional>

namespace {

/// How long the reader waits for input before it looks at `stopping` again: the channels'
/// own wait, so that a stop during an idle pipe takes no longer than stopping a channel.
constexpr int inputPollMilliseconds = TunerSlot::waitTime.count();

}  // namespace

FileSource::FileSource(std::string inputPath)
    : path(std::move(inputPath)), block(tunerBufferLength) {}

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
    int opened;
    do {
        // A named pipe blocks here until its writer appears; a signal may cut that short.
        opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) {
        throw InputError(path, errno);
    }
    fd = opened;
    ownsInput = true;
}

BlockFeed& FileSource::prepareFeed(std::size_t readers) {
    queue = std::make_unique<BlockQueue>(readers, queueBlocks, tunerBufferLength);
    return *queue;
}

void FileSource::startPublishing() {
    if (fd < 0) {
        throw InputError(path, EBADF);
    }
    thread = boost::thread(&FileSource::runReader, this);
}

std::optional<std::string> FileSource::stopPublishing() {
    stopping = true;
    if (queue) {
        queue->halt();
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
    for (;;) {
        const std::optional<uint32_t> filled = fillBlock();
        if (!filled) {
            return;
        }
        const bool ended = *filled < block.size();
        // Only the very end of the input can leave an odd byte: an I without its Q.
        if (!queue->publish(block.data(), *filled - *filled % 2, ended)) {
            return;
        }
        if (ended) {
            break;
        }
    }
    if (queue->drain()) {
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
            if (errno == EINTR) {
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
        const int ready = ::poll(&input, 1, inputPollMilliseconds);
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

void FileSource::closeInput() {
    if (ownsInput) {
        ::close(fd);
    }
    fd = -1;
    ownsInput = false;
}
