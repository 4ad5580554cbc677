#pragma once

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <iosfwd>
#include <string>

namespace keelwave::app {

/// The one process-wide logger. Every time-stamped line of the program passes through `log`:
///
///     2018-04-30 09:05:07.042  INFO     Keelwave v.20180430
///     \_____ local time _____/  \level 9/ \text, unchanged
///
/// Lines are stamped and queued under one lock, so they never interleave and appear in the
/// order they took it. Until the run starts the console writer, the caller writes its line
/// itself. From then on a writer thread writes them, each flushed on its own, and a console
/// that stops reading (a full pipe, a terminal paused with Ctrl-S) holds up nobody else:
///
///     callers ──► queue (lock, at most consoleQueueLines) ──► writer thread ──► console
///                 └ full: dropped and counted; once the writer has emptied the queue it
///                   writes one line with the count, then lines are taken again
///
/// With a recording as input the run can wait for its reader, so a full queue makes callers
/// wait for room instead; the thread that runs the event loop never waits. A caller that may
/// wait holds no other lock of the program while it logs (the sentence dispatch releases
/// `clientsLock` first), so a stuck console holds up nothing but that caller.
///
/// The lock is the innermost of the program: nothing else is locked while it is held, and the
/// writer does not hold it while it writes.
class Logger {
public:
    static constexpr int ERROR = 0;
    static constexpr int WARNING = 1;
    static constexpr int NOTICE = 2;
    static constexpr int INFO = 3;

    /// Lines that may wait for the console: at most about 110 bytes each, half a megabyte,
    /// minutes of sentences even from a busy harbour.
    static constexpr std::size_t consoleQueueLines = 4096;
    /// With a recording as input, callers that may wait stop this many lines short of the
    /// cap, leaving the rest to the event loop's connection and UDP lines, which never wait.
    static constexpr std::size_t eventLoopReserveLines = 1024;
    /// How long the end of a run waits for a console that takes no line at all: long enough
    /// for a pager or a collector catching up, short enough that a stop never hangs on it.
    static constexpr std::chrono::seconds consoleStallLimit{2};

    /// Local wall-clock time with microsecond resolution.
    using Clock = boost::posix_time::ptime (*)();

    /// The process-wide instance, writing to standard output; never destroyed, as its writer
    /// may be blocked on a console that takes nothing when the process ends.
    static Logger& instance();

    /// Writes to `out`; the first failed write is reported on `errors`.
    explicit Logger(std::ostream& out, Clock clock = &localTime);
    Logger(std::ostream& out, Clock clock, std::ostream& errors);
    /// Lets the writer write everything queued, then joins it.
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    /// Writes, or queues, one line if the console is enabled and `level` <= its maximum level.
    void log(int level, const std::string& text);

    /// Switches the console output; done once by the entry point before anything is logged.
    void setConsole(bool enabled, int maxLevel);

    /// Redirects the lines to another stream (tests capture the log this way), once the
    /// writer has written everything queued for the old one.
    void setOutput(std::ostream& out);

    /// Hands the console to a writer thread for the rest of the process. The run sequence
    /// calls it once, on the thread that will run the event loop, before it opens the outputs
    /// or starts a receiver thread. `recordingInput`: the input is a recording, which can
    /// wait for its reader: callers other than this thread then wait for room in a full queue
    /// instead of losing their lines.
    void startConsoleWriter(bool recordingInput);

    /// The run has been told to stop (a signal, a failed thread): nobody waits for room any
    /// more (waiting callers drop their lines and go on), and `drainConsole` gives up on a
    /// console that stalls. Any thread; never blocks.
    void stopWaitingForConsole();

    /// Waits until every line queued so far has been written: with a recording that was not
    /// stopped for as long as it takes, otherwise until the console takes no line for
    /// consoleStallLimit. False if a write of the log failed at any time. The run sequence
    /// calls it at its end, once the signals are no longer caught (so that a signal ends a
    /// wait for a stuck console), and exits with status 1 on false.
    bool drainConsole();

    /// The 9-character word printed for a level; any unknown level prints as ERROR.
    static const char* levelWord(int level);

    /// The whole line for `level` and `text` at local time `now`, without line end.
    static std::string formatLine(const boost::posix_time::ptime& now, int level,
                                  const std::string& text);

    static boost::posix_time::ptime localTime();

private:
    using Lock = boost::unique_lock<boost::mutex>;

    /// Whether the calling thread is to wait for room in a full queue.
    bool mayWait() const;
    void waitForRoom(Lock& guard);
    bool idle() const { return queue.empty() && !writing && droppedLines == 0; }
    /// The writer thread: writes queued lines until told to stop with nothing left.
    void writeQueuedLines();
    /// Writes one line, ended already, and flushes; reports the first failure on `errors`.
    void writeLine(std::ostream& out, const std::string& line);

    boost::mutex lock;
    bool consoleEnabled = false;
    int consoleMaxLevel = 4;
    std::ostream* output;
    std::ostream* errors;
    Clock clock;

    // The console writer's state, guarded by `lock`.
    boost::thread writer;
    bool writerStarted = false;
    bool writerStopping = false;
    bool recording = false;                  // callers other than the event loop wait for room
    bool stopRequested = false;              // the run is stopping: nobody waits any more
    boost::thread::id eventLoop;             // never waits for room
    std::deque<std::string> queue;           // whole lines with their line end
    bool writing = false;                    // the writer is writing a line taken from the queue
    std::size_t droppedLines = 0;            // since the queue was last empty
    unsigned long long linesQueued = 0;      // ever, the lines telling of drops included
    unsigned long long linesWritten = 0;     // ever, whether the write succeeded or not
    std::condition_variable_any lineQueued;  // the writer's wake-up
    std::condition_variable_any consoleProgress;  // a line written, or the run is stopping

    std::atomic<bool> writeFailed{false};
};

}  // namespace keelwave::app
