#pragma once

#include "base/logger.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <chrono>
#include <future>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

namespace keelwave::test {

/// Runs an I/O service on a thread of its own, as the program's main thread runs its loop.
struct IoThread {
    IoThread() : work(io.get_executor()), thread([this] { io.run(); }) {}
    ~IoThread() { stop(); }
    /// Runs `task` on the loop's thread, as the program runs everything its outputs do, and
    /// waits for it.
    template <class Task>
    void run(Task task) {
        std::promise<void> done;
        boost::asio::post(io, [&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }
    /// Lets the loop return and joins its thread; handlers not yet run stay queued.
    void stop() {
        work.reset();
        io.stop();
        if (thread.joinable()) {
            thread.join();
        }
    }
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;
    std::thread thread;
};

/// The process logger's console lines for one test, safe to read while others log: the stream
/// is unbuffered, so every write takes the lock.
class LogCapture : private std::streambuf {
public:
    LogCapture() {
        base::Logger::instance().setOutput(stream);
        base::Logger::instance().setConsole(true, base::Logger::INFO);
    }
    ~LogCapture() override { base::Logger::instance().setOutput(std::cout); }
    std::string text() {
        const std::lock_guard<std::mutex> guard(lock);
        return captured;
    }
    /// True once `fragment` has been logged `count` times, within `timeout`.
    bool waitFor(const std::string& fragment, std::size_t count = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        for (auto wait = timeout * 0; wait <= timeout; wait += std::chrono::milliseconds(10)) {
            std::size_t found = 0;
            const std::string now = text();
            for (auto at = now.find(fragment); at != std::string::npos;
                 at = now.find(fragment, at + 1)) {
                ++found;
            }
            if (found >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        const std::lock_guard<std::mutex> guard(lock);
        captured.append(text, static_cast<std::size_t>(count));
        return count;
    }
    int_type overflow(int_type c) override {
        const char character = static_cast<char>(c);
        xsputn(&character, 1);
        return c;
    }

    std::mutex lock;
    std::string captured;
    std::ostream stream{this};
};

}  // namespace keelwave::test
