#include "tests/support/child_process.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

const std::string kType1Sentence = "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A";
const std::string kType5 =
    "!AIVDM,2,1,1,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1C\n"
    "!AIVDM,2,2,1,A,88888888880,2*25";
const std::string kType28 = "!AIVDM,1,1,,B,LiOsSw5gAe:igOOGu=:KwvJMwh,4*39";
const std::string kBadChecksum = "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4B";

ProcessResult aisgen(const std::vector<std::string>& arguments, const std::string& input = "") {
    return runProgram(AISGEN_BINARY, arguments, {}, std::chrono::seconds(60), input);
}

}  // namespace

TEST(Aisgen, PrintsHelp) {
    const ProcessResult result = aisgen({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, AllOf(HasSubstr("Usage: keelwave-aisgen"), HasSubstr("--snr"),
                                  HasSubstr("--duration"), HasSubstr("--channel")));
}

TEST(Aisgen, WritesOnePassWithSkippedMessagesNoted) {
    ScratchDirectory scratch;
    const std::string input = scratch.path("in.nmea");
    std::ofstream(input) << kType1Sentence << "\n"
                         << kType28 << "\n"
                         << kBadChecksum << "\n"
                         << kType5 << "\n"
                         << kType1Sentence << "\n";
    const ProcessResult result = aisgen({input, "-o", scratch.path("out.cu8"), "--snr", "30"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("line 2: message skipped, message identifier 28"));
    EXPECT_THAT(result.err, HasSubstr("line 3: bad checksum"));
    EXPECT_THAT(result.out, HasSubstr("Wrote 3 bursts (A 2, B 1)"));
    // Alternating channels, listed as the bursts end: the long one on B ends after the
    // second one on A.
    EXPECT_THAT(
        splitLines(readFile(scratch.path("out.expected.txt"))),
        ElementsAre(kType1Sentence, kType1Sentence,
                    "!AIVDM,2,1,0,B,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6C,"
                    "0*68",
                    "!AIVDM,2,2,0,B,lRp888888888880,2*51"));
    const std::size_t bytes = readFile(scratch.path("out.cu8")).size();
    EXPECT_EQ(bytes % 2, 0u);
    EXPECT_GT(bytes, 2u * 3u * 7680u);  // slot 0 and 1 on A, then the 0.3 s tail
}

TEST(Aisgen, LoopsTheInputToFillTheDuration) {
    ScratchDirectory scratch;
    const ProcessResult result =
        aisgen({"-o", scratch.path("loop.cu8"), "-e", scratch.path("loop.txt"), "--duration", "2",
                "--leading-silence", "0.1", "--channel", "sentence", "--ppm", "-50",
                "--carrier-offset", "500", "--seed", "9"},
               kType1Sentence + "\n");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(scratch.path("loop.cu8")).size(), 2u * 576000u);
    // (2 s - 0.1 s lead - 0.3 s tail) / 26.67 ms: 60 slots on channel A,
    // the sentence's own.
    const auto lines = splitLines(readFile(scratch.path("loop.txt")));
    EXPECT_EQ(lines.size(), 60u);
    for (const std::string& line : lines) {
        ASSERT_EQ(line, kType1Sentence);
    }
}

TEST(Aisgen, RefusesBadOptionsAndEmptyInput) {
    ScratchDirectory scratch;
    const std::string out = scratch.path("x.cu8");
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"--amplitude", "200", "-o", out}, "Error: --amplitude"},
        {{"--channel", "C", "-o", out}, "Error: --channel"},
        {{}, "Error: the option '--output' is required"},
        {{"-o", out}, "no message to transmit"},
        {{"/nonexistent/input.nmea", "-o", out}, "cannot read /nonexistent/input.nmea"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = aisgen(c.arguments, kType28 + "\n");
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.err, HasSubstr(c.message));
    }
}
