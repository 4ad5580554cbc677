#pragma once

#include <iosfwd>

namespace keelwave::base {

/// The process's standard output as a stream with no buffer of its own: each write goes to
/// descriptor 1 with write(2) at once, retried until every byte is taken or the write fails.
/// The C library's stdout is not involved, so a console that blocks holds up only the thread
/// writing to it, never the stdout lock that the end of the process takes to flush. errno is
/// left as the failing write(2) set it. Never destroyed: a writer may still be blocked on it
/// when the process ends.
std::ostream& standardOutput();

/// Fills any of descriptors 0, 1 and 2 that the process was started without (`keelwave >&-`)
/// with /dev/null, opened for the opposite use: nothing the program opens later (a socket, the
/// recording) can take the number, so the log never lands in a client's connection, and using
/// the descriptor still fails with EBADF as it did while it was closed. Call before anything
/// else opens a descriptor.
void occupyClosedStandardDescriptors();

}  // namespace keelwave::base
