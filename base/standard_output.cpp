#include "base/standard_output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
#include <streambuf>

namespace keelwave::base {

namespace {

/// Writes straight to a descriptor; every character reaches write(2) within the call.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fileDescriptor) : descriptor(fileDescriptor) {}

private:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        std::streamsize written = 0;
        while (written < count) {
            const ssize_t result =
                ::write(descriptor, text + written, static_cast<std::size_t>(count - written));
            if (result < 0 && errno == EINTR) {
                continue;
            }
            if (result <= 0) {
                break;
            }
            written += result;
        }
        return written;
    }

    int_type overflow(int_type character) override {
        if (traits_type::eq_int_type(character, traits_type::eof())) {
            return traits_type::not_eof(character);
        }
        const char byte = traits_type::to_char_type(character);
        return xsputn(&byte, 1) == 1 ? character : traits_type::eof();
    }

    int descriptor;
};

}  // namespace

std::ostream& standardOutput() {
    static std::ostream* const stream = new std::ostream(new DescriptorBuffer(STDOUT_FILENO));
    return *stream;
}

void occupyClosedStandardDescriptors() {
    // open() takes the lowest free number, so the gaps are filled in order.
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        }
    }
}

}  // namespace keelwave::base
