#pragma once

#include <boost/date_time/posix_time/ptime.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

namespace keelwave::base {

/// The one process-wide logger. Every time-stamped line of the program passes through `log`:
///
///     2018-04-30 09:05:07.042  INFO     Keelwave v.20180430
///     \_____ local time _____/  \level 9/ \text, unchanged
///
/// Lines are stamped and queued under one lock, so they never interleave and appear in the
/// order they took it. Until the run starts the console writer, the caller writes its line
/// itself. From then on a writer thread writes them, each flushed on its own, and a console
/// that stops reading (a full pipe, a terminal paused with Ctrl-S) holds up no caller:
///
///     callers ──► queue (lock, at most consoleQueueLines) ──► writer thread ──► console
///                 └ full: dropped and counted; once the writer has emptied the queue it
///                   writes one line with the count, then lines are taken again
///
/// A caller that must not lose a line (the messages of a recording) asks `hasRoom` first and
/// holds the line back while there is none.
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
    /// Lines of the queue `hasRoom` keeps for everything but the lines asked about: the
    /// connection and UDP lines, which are never held back.
    static constexpr std::size_t reservedLines = 1024;
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

    /// Writes, or queues, `text` as one line of its own, without time stamp or level word (an
    /// output's lines on standard output), in order with the log's lines.
    void print(const std::string& text);

    /// Switches the console output; done once by the entry point before anything is logged.
    void setConsole(bool enabled, int maxLevel);

    /// Redirects the lines to another stream (tests capture the log this way), once the
    /// writer has written everything queued for the old one.
    void setOutput(std::ostream& out);

    /// Hands the console to a writer thread for the rest of the process. The run sequence
    /// calls it once, before it opens the outputs or starts a receiver thread.
    /// `recordingInput`: the input is a recording, whose lines `drainConsole` waits for as
    /// long as the console takes them.
    void startConsoleWriter(bool recordingInput);

    /// Whether `lines` more can be queued now and leave reservedLines free: a caller that holds
    /// its lines back while there is no room loses none of them. Any thread; never blocks.
    bool hasRoom(std::size_t lines);

    /// The run has been told to stop (a signal, a failed thread): `drainConsole` gives up on a
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
    using Lock = std::unique_lock<std::mutex>;

    /// Queues the line `makeLine` gives (its end included), or writes it while no writer runs;
    /// past the queue's cap it is dropped and counted.
    template <class MakeLine>
    void enqueue(Lock& guard, MakeLine makeLine);
    bool idle() const { return queue.empty() && !writing && droppedLines == 0; }
    /// The writer thread: writes queued lines until told to stop with nothing left.
    void writeQueuedLines();
    /// Writes one line, ended already, and flushes; reports the first failure on `errors`.
    void writeLine(std::ostream& out, const std::string& line);

    std::mutex lock;
    bool consoleEnabled = false;
    int consoleMaxLevel = 4;
    std::ostream* output;
    std::ostream* errors;
    Clock clock;

    // The console writer's state, guarded by `lock`.
    std::thread writer;
    bool writerStarted = false;
    bool writerStopping = false;
    bool recording = false;                   // the end of the run waits for every line
    bool stopRequested = false;               // the run is stopping: the end waits no more
    std::deque<std::string> queue;            // whole lines with their line end
    bool writing = false;                     // the writer is writing a line taken from the queue
    std::size_t droppedLines = 0;             // since the queue was last empty
    unsigned long long linesQueued = 0;       // ever, the lines telling of drops included
    unsigned long long linesWritten = 0;      // ever, whether the write succeeded or not
    std::condition_variable lineQueued;       // the writer's wake-up
    std::condition_variable consoleProgress;  // a line written, or the run is stopping

    std::atomic<bool> writeFailed{false};
};

}  // namespace keelwave::base
