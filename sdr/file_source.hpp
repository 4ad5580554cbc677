#pragma once

#include "sdr/sample_source.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace keelwave::sdr {

/// A recording of the tuner's stream fed to the channels as if it came from the tuner: raw
/// unsigned 8-bit I/Q, I first, 288000 pairs per second centred on 162000000 Hz, as
/// `rtl_sdr -f 162000000 -s 288000 file.cu8` writes it. Read from a file, or from standard
/// input when the name is "-".
///
/// Used like the tuner: construct, `open`, then as a sample source. A reader thread reads the
/// input in blocks of the tuner's transfer length into a ring that never drops, so a
/// recording is decoded whole, as fast as the CPU allows. At the end of the input every chain
/// hands on what it holds, and once all is decoded the source reports its end. A read error
/// ends the reader thread and is reported as the source's end.
class FileSource : public SampleSource {
public:
    /// The name that stands for standard input.
    static constexpr const char* standardInputName = "-";

    /// Nothing is opened until `open`. With `realtime` the input is published at the pace it
    /// was recorded (288000 pairs per second of wall time), as a tuner would deliver it.
    explicit FileSource(std::string path, bool realtime = false);
    /// Stops the threads if `stop` was not called, then closes the input (never standard input).
    ~FileSource() override;

    /// Opens the file for reading, or takes standard input for "-". Throws InputError
    /// (path, ": " and the system's text) if it cannot be opened. A named pipe is opened at
    /// once; the reader thread then waits for its writer.
    void open();

protected:
    /// Starts the reader thread; throws InputError (EBADF) if the input is not open.
    void startPublishing() override;
    /// Halts the ring (waking a reader that waits for room) and joins the reader thread.
    /// Input not yet read is left unread.
    std::optional<std::string> stopPublishing() override;

private:
    void runReader();
    void readToEnd();
    /// Reads until `block` is full or the input has ended; returns the bytes read, or nothing
    /// once the source is stopping. Throws InputError on a read error.
    std::optional<uint32_t> fillBlock();
    /// Waits until the input can be read without blocking; false once the source is stopping.
    bool waitForInput();
    /// Sleeps until `deadline` (steady clock); false once the source is stopping.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    void closeInput();

    /// Blocks the ring holds: enough for the channels to work side by side at their own pace.
    static constexpr std::size_t ringBlocks = 4;

    const std::string path;
    const bool realtime;
    int fd = -1;                       ///< the input; -1 until `open`
    bool ownsInput = false;            ///< false for standard input, which is never closed here
    std::vector<unsigned char> block;  ///< one transfer's worth of raw bytes
    std::atomic<bool> stopping{false};
    std::thread thread;  ///< the reader thread
};

}  // namespace keelwave::sdr
