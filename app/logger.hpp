#pragma once

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/thread/mutex.hpp>

#include <iosfwd>
#include <string>

/// The one process-wide logger. Every time-stamped line of the program passes through `log`:
///
///     2018-04-30 09:05:07.042  INFO     Keelwave v.20180430
///     \_____ local time _____/  \level 9/ \text, unchanged
///
/// The lock is held across time stamping, formatting and writing, so lines from the channel
/// threads and the I/O thread never interleave and appear in the order they took the lock.
/// It is the innermost lock of the program: nothing else is locked while it is held.
class Logger {
public:
    static constexpr int ERROR = 0;
    static constexpr int WARNING = 1;
    static constexpr int NOTICE = 2;
    static constexpr int INFO = 3;

    /// Local wall-clock time with microsecond resolution.
    using Clock = boost::posix_time::ptime (*)();

    /// The process-wide instance, writing to standard output.
    static Logger& instance();

    explicit Logger(std::ostream& out, Clock clock = &localTime);
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    /// Writes one line if the console is enabled and `level` <= the console's maximum level.
    void log(int level, const std::string& text);

    /// Switches the console output; done once by the entry point before anything is logged.
    void setConsole(bool enabled, int maxLevel);

    /// Redirects the lines to another stream (tests capture the log this way).
    void setOutput(std::ostream& out);

    /// The 9-character word printed for a level; any unknown level prints as ERROR.
    static const char* levelWord(int level);

    /// The whole line for `level` and `text` at local time `now`, without line end.
    static std::string formatLine(const boost::posix_time::ptime& now, int level,
                                  const std::string& text);

    static boost::posix_time::ptime localTime();

private:
    boost::mutex lock;
    bool consoleEnabled = false;
    int consoleMaxLevel = 4;
    std::ostream* output;
    Clock clock;
};
