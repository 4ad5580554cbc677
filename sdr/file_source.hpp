#pragma once

#include "sdr/channel_group.hpp"
#include "sdr/sdr_channel.hpp"

#include <boost/thread/thread.hpp>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

/// A recording of the tuner's stream fed to the channels as if it came from the tuner: raw
/// unsigned 8-bit I/Q, I first, 288000 pairs per second centred on 162000000 Hz, as
/// `rtl_sdr -f 162000000 -s 288000 file.cu8` writes it. Read from a file, or from standard
/// input when the name is "-".
///
/// Used like the tuner device: construct, `open`, `addChannel` for each channel, `start`,
/// `stop`, destruction. A reader thread reads the input in blocks of the tuner's transfer
/// length and publishes each one once every channel has finished the previous one, so nothing
/// is dropped however slow the decoders are, and a recording is decoded as fast as the CPU
/// allows. At the end of the input every channel hands its partly filled last block to its
/// decoder, and then the finished callback is called.
///
/// A read error ends the reader thread; like a failure of a channel thread it is kept as the
/// first failure and announced through the failure callback.
class FileSource {
public:
    /// The name that stands for standard input.
    static constexpr const char* standardInputName = "-";

    /// Nothing is opened until `open`.
    explicit FileSource(std::string path);
    /// Stops the threads if `stop` was not called, then closes the input (never standard
    /// input).
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    /// Opens the file for reading, or takes standard input for "-". Throws InputError
    /// (path, ": " and the system's text) if it cannot be opened. A named pipe blocks here
    /// until a writer opens it.
    void open();

    /// Takes the channel; keeps the channels sorted by ascending frequency (stable) and sets
    /// every channel's oscillator step against the tuner centre.
    void addChannel(std::unique_ptr<SdrChannel> channel) { group.addChannel(std::move(channel)); }

    /// Called once, on the failing thread, after the first read or channel failure; set it
    /// before `start`. It should only hand the news to the owner's thread (for example stop
    /// the I/O loop); it must not call `stop` itself.
    void setFailureCallback(std::function<void()> callback) {
        group.setFailureCallback(std::move(callback));
    }

    /// Called once per run, on the reader thread, when the whole input has been decoded: every
    /// block reached the channels and every channel gave its last, partly filled block to its
    /// decoder. Set it before `start`. Like the failure callback it should only hand the news
    /// on; calling `stop` from it would join the thread it runs on.
    void setFinishedCallback(std::function<void()> callback) {
        finishedCallback = std::move(callback);
    }

    /// The first failure of the reader or a channel thread, or null. Safe from any thread.
    std::exception_ptr failure() const { return group.failure(); }

    /// Starts the channel threads in list order, then the reader thread. If a thread cannot
    /// be created, the threads already started are stopped and the error is thrown. Throws
    /// InputError (EBADF) if the input is not open.
    void start();

    /// Stops publication (waking a reader that waits for the channels or for input), joins the
    /// reader thread, then stops the channels in list order. Safe at any time, also after the
    /// input has ended and more than once. Input not yet read is left unread.
    void stop();

    /// True while a started reader thread has not been joined.
    bool readerRunning() const { return thread.joinable(); }

    /// The channels in start and stop order.
    const std::vector<std::unique_ptr<SdrChannel>>& channelList() const {
        return group.channelList();
    }

private:
    void runReader();
    void readToEnd();
    /// Reads until `block` is full or the input has ended; returns the bytes read, or nothing
    /// once the source is stopping. Throws InputError on a read error.
    std::optional<uint32_t> fillBlock();
    /// Waits until the input can be read without blocking; false once the source is stopping.
    bool waitForInput();
    void closeInput();

    const std::string path;
    int fd = -1;                       ///< the input; -1 until `open`
    bool ownsInput = false;            ///< false for standard input, which is never closed here
    std::vector<unsigned char> block;  ///< one transfer's worth of raw bytes
    std::function<void()> finishedCallback;
    /// The channels, the hand-off the reader publishes into, and the first failure.
    ChannelGroup group;
    boost::thread thread;  ///< the reader thread
};
