#include "sdr/file_source.hpp"

#include "sdr/input_error.hpp"
#include "tests/sdr/recording_decoder.hpp"
#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <ostream>
#include <random>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using testing::Each;
using testing::IsEmpty;

namespace {

/// Raw tuner bytes with every value equally likely, so that any lost, repeated or shifted
/// byte changes what the channels put out.
std::vector<unsigned char> randomBytes(std::size_t count) {
    std::mt19937 generator(162025);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<unsigned char> bytes(count);
    for (unsigned char& each : bytes) {
        each = static_cast<unsigned char>(byte(generator));
    }
    return bytes;
}

/// The floats the hand-off makes of `bytes`, an odd last byte left out.
std::vector<float> asFloats(const std::vector<unsigned char>& bytes) {
    std::vector<float> floats;
    for (std::size_t n = 0; n + 1 < bytes.size(); n += 2) {
        floats.push_back(static_cast<float>(bytes[n]) - 128.0f);
        floats.push_back(static_cast<float>(bytes[n + 1]) - 128.0f);
    }
    return floats;
}

/// A pipe fed by a thread of its own in chunks of the given lengths (taken in turn), with a
/// pause after each so that the reader meets short reads of odd length. The writing end is
/// closed after the last byte, or only at destruction when `keepOpen` is set.
class FeedingPipe {
public:
    FeedingPipe(std::vector<unsigned char> bytes, std::vector<std::size_t> chunks, bool keepOpen)
        : held(release.get_future()) {
        if (pipe2(ends, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        writer = std::thread([this, bytes = std::move(bytes), chunks = std::move(chunks),
                              keepOpen] { feed(bytes, chunks, keepOpen); });
    }
    ~FeedingPipe() {
        release.set_value();
        ::close(ends[0]);  // a writer still blocked in write gets EPIPE (its SIGPIPE is blocked)
        writer.join();
    }

    /// A name that opens the reading end, as a shell's process substitution would give.
    std::string path() const { return "/dev/fd/" + std::to_string(ends[0]); }
    int readingEnd() const { return ends[0]; }

private:
    void feed(const std::vector<unsigned char>& bytes, const std::vector<std::size_t>& chunks,
              bool keepOpen) {
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        std::size_t at = 0;
        for (std::size_t turn = 0; at < bytes.size(); ++turn) {
            const std::size_t end = std::min(bytes.size(), at + chunks[turn % chunks.size()]);
            for (; at < end;) {
                const ssize_t wrote = ::write(ends[1], bytes.data() + at, end - at);
                if (wrote < 0) {
                    at = bytes.size();
                    break;
                }
                at += static_cast<std::size_t>(wrote);
            }
            std::this_thread::sleep_for(200us);
        }
        if (keepOpen) {
            held.wait();
        }
        ::close(ends[1]);
    }

    int ends[2] = {-1, -1};
    std::promise<void> release;
    std::shared_future<void> held;
    std::thread writer;
};

class FileSourceTest : public testing::Test {
protected:
    /// A source over `path` with a recording decoder on channels 'A' and 'B' (A first in
    /// `decoders`), whose finished and failure callbacks are watched.
    std::unique_ptr<FileSource> makeSource(const std::string& path) {
        auto source = std::make_unique<FileSource>(path);
        for (int32_t frequency : {channelB, channelA}) {
            auto decoder = std::make_unique<RecordingDecoder>();
            decoders.insert(frequency == channelA ? decoders.begin() : decoders.end(),
                            decoder.get());
            source->addChannel(std::make_unique<SdrChannel>(frequency, std::move(decoder)));
        }
        source->setFinishedCallback([this] {
            if (finishedCalls++ == 0) {
                callsWhenFinished[0] = decoders[0]->counts().size();
                callsWhenFinished[1] = decoders[1]->counts().size();
                finished.set_value();
            }
        });
        source->setFailureCallback([this] { failed.set_value(); });
        return source;
    }

    std::string writeFile(const std::string& name, const std::vector<unsigned char>& bytes) {
        std::ofstream(scratch.path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return scratch.path(name);
    }

    /// Every byte pair reached both channels exactly once and in order, as if the whole input
    /// were one block, and the last partial decoder block was flushed after the full ones.
    void expectDecodedWhole(const std::vector<unsigned char>& bytes) {
        const std::vector<float> stream = asFloats(bytes);
        EXPECT_EQ(decoders[0]->samples(), demodulateOffline(channelA, stream));
        EXPECT_EQ(decoders[1]->samples(), demodulateOffline(channelB, stream));
        for (RecordingDecoder* decoder : decoders) {
            std::vector<int32_t> counts = decoder->counts();
            if (!counts.empty() && counts.back() < 4096) {
                counts.pop_back();
            }
            EXPECT_THAT(counts, Each(4096));
        }
    }

    void expectFinishedOnceAfterTheLastCall() {
        EXPECT_EQ(finishedCalls, 1);
        EXPECT_EQ(callsWhenFinished[0], decoders[0]->counts().size());
        EXPECT_EQ(callsWhenFinished[1], decoders[1]->counts().size());
    }

    ScratchDirectory scratch;
    std::vector<RecordingDecoder*> decoders;
    std::promise<void> finished;
    std::promise<void> failed;
    std::atomic<int> finishedCalls{0};
    std::size_t callsWhenFinished[2] = {0, 0};
};

struct LengthCase {
    const char* name;
    std::size_t length;  // bytes in the file
};

void PrintTo(const LengthCase& each, std::ostream* out) {
    *out << each.name;
}

class FileLengthTest : public FileSourceTest, public testing::WithParamInterface<LengthCase> {};

TEST_P(FileLengthTest, EveryPairReachesTheDecodersAndTheLastBlockIsFlushed) {
    const std::vector<unsigned char> bytes = randomBytes(GetParam().length);
    const auto source = makeSource(writeFile("input.cu8", bytes));
    source->open();
    source->start();
    ASSERT_EQ(finished.get_future().wait_for(20s), std::future_status::ready);
    source->stop();
    EXPECT_FALSE(source->failure());
    expectDecodedWhole(bytes);
    expectFinishedOnceAfterTheLastCall();
    EXPECT_FALSE(source->readerRunning());
    source->stop();  // a second stop does nothing
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileLengthTest,
    testing::Values(LengthCase{"Empty", 0}, LengthCase{"OneByte", 1},
                    LengthCase{"LessThanOneDecoderBlock", 2 * 6 * 1000},
                    LengthCase{"TransfersAndAPartialOne", 3 * 102400 + 2 * 777},
                    LengthCase{"ExactlyTwoTransfers", 2 * 102400},
                    LengthCase{"OddTrailingByteIgnored", 102400 + 2 * 5000 + 1}),
    [](const testing::TestParamInfo<LengthCase>& each) { return each.param.name; });

TEST_F(FileSourceTest, SlowDecodersMakeTheReaderWaitInsteadOfDropping) {
    const std::vector<unsigned char> bytes = randomBytes(6 * 102400 + 2 * 4321);
    const auto source = makeSource(writeFile("input.cu8", bytes));
    decoders[0]->onProcess([](int32_t) { std::this_thread::sleep_for(3ms); });
    decoders[1]->onProcess([](int32_t) { std::this_thread::sleep_for(20ms); });
    source->open();
    source->start();
    ASSERT_EQ(finished.get_future().wait_for(30s), std::future_status::ready);
    source->stop();
    expectDecodedWhole(bytes);
    expectFinishedOnceAfterTheLastCall();
}

TEST_F(FileSourceTest, APipeWithOddShortReadsKeepsIAndQInStep) {
    const std::vector<unsigned char> bytes = randomBytes(3 * 102400 + 2 * 999 + 1);
    FeedingPipe pipe(bytes, {1, 4097, 333, 65537, 2, 9999}, false);
    const auto source = makeSource(pipe.path());
    source->open();
    source->start();
    ASSERT_EQ(finished.get_future().wait_for(30s), std::future_status::ready);
    source->stop();
    EXPECT_FALSE(source->failure());
    expectDecodedWhole(bytes);
    expectFinishedOnceAfterTheLastCall();
}

TEST_F(FileSourceTest, ReadsStandardInputForADashAndLeavesItOpen) {
    const std::vector<unsigned char> bytes = randomBytes(102400 + 2 * 3000);
    FeedingPipe pipe(bytes, {8191}, false);
    const int savedInput = dup(STDIN_FILENO);
    ASSERT_EQ(dup2(pipe.readingEnd(), STDIN_FILENO), STDIN_FILENO);
    auto source = makeSource("-");
    source->open();
    source->start();
    EXPECT_EQ(finished.get_future().wait_for(30s), std::future_status::ready);
    source->stop();
    expectDecodedWhole(bytes);
    source.reset();
    EXPECT_NE(fcntl(STDIN_FILENO, F_GETFD), -1);
    dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
}

struct OpenFailureCase {
    const char* name;
    const char* path;  // inside the scratch directory, which holds a file "plain"
    const char* text;  // after the path and ": "
};

void PrintTo(const OpenFailureCase& each, std::ostream* out) {
    *out << each.name;
}

class OpenFailureTest : public FileSourceTest,
                        public testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, ThrowsThePathAndTheSystemText) {
    writeFile("plain", {1, 2});
    const std::string path = scratch.path(GetParam().path);
    FileSource source(path);
    try {
        source.open();
        FAIL() << "no exception";
    } catch (const InputError& error) {
        EXPECT_EQ(error.what(), path + ": " + GetParam().text);
    }
    EXPECT_THROW(source.start(), InputError);  // nothing open to read
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OpenFailureTest,
    testing::Values(OpenFailureCase{"Missing", "nothere.cu8", "No such file or directory"},
                    OpenFailureCase{"UnderAFile", "plain/x.cu8", "Not a directory"}),
    [](const testing::TestParamInfo<OpenFailureCase>& each) { return each.param.name; });

TEST_F(FileSourceTest, MissingFileMessageUsesTheNameAsGiven) {
    FileSource source("nothere.cu8");
    try {
        source.open();
        FAIL() << "no exception";
    } catch (const InputError& error) {
        EXPECT_STREQ(error.what(), "nothere.cu8: No such file or directory");
    }
}

TEST_F(FileSourceTest, AReadErrorBecomesTheFailureAndNothingIsFinished) {
    ASSERT_EQ(mkdir(scratch.path("dir").c_str(), 0700), 0);
    const auto source = makeSource(scratch.path("dir"));
    source->open();  // a directory opens, but cannot be read
    source->start();
    ASSERT_EQ(failed.get_future().wait_for(5s), std::future_status::ready);
    source->stop();
    ASSERT_TRUE(source->failure());
    try {
        std::rethrow_exception(source->failure());
    } catch (const InputError& error) {
        EXPECT_EQ(error.what(), scratch.path("dir") + ": Is a directory");
    }
    EXPECT_EQ(finishedCalls, 0);
    EXPECT_THAT(decoders[0]->counts(), IsEmpty());
}

TEST_F(FileSourceTest, ADecoderFailureReachesTheOwnerAndStopStillReturns) {
    const auto source = makeSource(writeFile("input.cu8", randomBytes(4 * 102400)));
    decoders[1]->onProcess([](int32_t) { throw std::runtime_error("decoder broke"); });
    source->open();
    source->start();
    ASSERT_EQ(failed.get_future().wait_for(10s), std::future_status::ready);
    // The reader waits for the dead channel to take its block until it is stopped.
    source->stop();
    EXPECT_FALSE(source->readerRunning());
    EXPECT_EQ(finishedCalls, 0);
    try {
        std::rethrow_exception(source->failure());
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "decoder broke");
    }
}

class EndlessInputTest : public FileSourceTest, public testing::WithParamInterface<bool> {};

TEST_P(EndlessInputTest, StopOrDestructionEndsAQuietPipePromptly) {
    FeedingPipe pipe(randomBytes(2 * 102400 + 500), {30001}, true);
    auto source = makeSource(pipe.path());
    source->open();
    source->start();
    ASSERT_TRUE(decoders[0]->waitForCalls(2, 10s));
    const auto before = std::chrono::steady_clock::now();
    if (GetParam()) {
        source->stop();
        EXPECT_FALSE(source->readerRunning());
    }
    source.reset();
    // One wait for input and one channel wait each, at about 100 ms; the bound is loose.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_EQ(finishedCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(Endings, EndlessInputTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& each) {
                             return each.param ? "Stop" : "Destruction";
                         });

}  // namespace
