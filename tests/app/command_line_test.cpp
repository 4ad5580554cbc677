#include "app/options.hpp"

#include "tests/support/child_process.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/program_options/errors.hpp>
#include <boost/program_options/variables_map.hpp>

namespace po = boost::program_options;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const char* const helpText =
    "Program options:\n"
    "  -h [ --help ]         This help message\n"
    "  --device-list         List Available devices\n"
    "  --device-index arg    Select RTL device (default: 0)\n"
    "  --gain arg            Set gain in Receiver, dB (default: Auto)\n"
    "  --agc                 Enable Automatic Gain Control in RTL (default: off)\n"
    "  --freq-correction arg Set frequency correction, ppm (default: 0)\n"
    "  --net arg             Enable network-server on port (default: off)\n"
    "  --udp arg             UDP server address. Format: address:port (default: off)\n"
    "  --no-console          Disable logging on console (default: on)\n"
    "  --verbose             Verbose output signal level\n"
    "  -r [ --input ] arg    Read raw I/Q from a file instead of the tuner (unsigned\n"
    "                        8-bit, 288000 samples/s, centred at 162 MHz; - reads \n"
    "                        standard input)\n"
    "\n";

// gtest's own (POSIX) regular expressions: std::regex doubles this file's build time.
constexpr const char* bannerLine =
    R"([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}  INFO     Keelwave v\.20180430)";

ProcessResult keelwave(const std::vector<std::string>& arguments,
                       std::map<std::string, std::string> standin = {}) {
    return runProgram(keelwaveBinary(), arguments, standinEnvironment(std::move(standin)));
}

/// Standard output after the banner line, which must come first.
std::string afterBanner(const ProcessResult& result) {
    const auto end = result.out.find('\n');
    EXPECT_NE(end, std::string::npos) << result.out;
    EXPECT_THAT(result.out.substr(0, end), testing::MatchesRegex(bannerLine));
    return result.out.substr(end + 1);
}

po::variables_map parse(std::vector<const char*> words) {
    words.insert(words.begin(), "keelwave");
    return parseOptions(static_cast<int>(words.size()), words.data());
}

}  // namespace

TEST(CommandLine, HelpIsPrintedForNoArgumentAndBothHelpSwitchesAndWinsOverTheDeviceList) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {}, {"-h"}, {"--help"}, {"--device-list", "--help"}, {"-h", "--gain", "3"}}) {
        const ProcessResult result = keelwave(arguments, {{"RTLSDR_STANDIN_DEVICES", "2"}});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(afterBanner(result), helpText) << testing::PrintToString(arguments);
        EXPECT_THAT(result.err, IsEmpty());
    }
}

TEST(CommandLine, DeviceListWithNoDevice) {
    const ProcessResult result = keelwave({"--device-list"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(afterBanner(result), "No Available devices.\n");
}

TEST(CommandLine, DeviceCountIsTakenAsSigned) {
    // A count with the top bit set is negative, so no device is listed (and none is asked for).
    const ProcessResult result =
        keelwave({"--device-list"}, {{"RTLSDR_STANDIN_FAIL", "rtlsdr_get_device_count=-1"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(afterBanner(result), "No Available devices.\n");
}

TEST(CommandLine, DeviceListRightAlignsIndexesInTwoColumnsAndPrintsLongerOnesInFull) {
    const ProcessResult two = keelwave(
        {"--device-list"}, {{"RTLSDR_STANDIN_DEVICES", "2"},
                            {"RTLSDR_STANDIN_NAMES", "Generic RTL2832U OEM|ezcap USB 2.0 DVB-T"}});
    EXPECT_EQ(two.status, 0);
    EXPECT_EQ(afterBanner(two),
              "Available Devices:\n"
              " 0: Generic RTL2832U OEM\n"
              " 1: ezcap USB 2.0 DVB-T\n");

    const ProcessResult eleven = keelwave(
        {"--device-list"}, {{"RTLSDR_STANDIN_DEVICES", "11"}, {"RTLSDR_STANDIN_NAMES", "Dongle"}});
    const auto lines = splitLines(afterBanner(eleven));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[1], " 0: Dongle");
    EXPECT_EQ(lines[10], " 9: Dongle");
    EXPECT_EQ(lines[11], "10: Dongle");
}

TEST(CommandLine, DeviceWithoutNameEndsWithAnErrorInsteadOfACrash) {
    const ProcessResult result = keelwave(
        {"--device-list"},
        {{"RTLSDR_STANDIN_DEVICES", "1"}, {"RTLSDR_STANDIN_FAIL", "rtlsdr_get_device_name=0:19"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(afterBanner(result), "Available Devices:\n");
    EXPECT_EQ(result.err, "Error: rtlsdr_get_device_name(): No such device\n");
}

TEST(CommandLine, OptionErrorsGiveTheLibraryTextOnStandardErrorAndStatusOne) {
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "Error: unrecognised option '--bogus'\n"},
        {{"--gain", "abc"}, "Error: the argument ('abc') for option '--gain' is invalid\n"},
        {{"--net", "x"}, "Error: the argument ('x') for option '--net' is invalid\n"},
        {{"--gain", "1", "--gain", "2"},
         "Error: option '--gain' cannot be specified more than once\n"},
        {{"--udp"}, "Error: the required argument for option '--udp' is missing\n"},
        {{"--gain", "nan"}, "Error: the argument ('nan') for option '--gain' is invalid\n"},
        {{"--gai=-inf"}, "Error: the argument ('-inf') for option '--gain' is invalid\n"},
        {{"--gain", "3e8"}, "Error: the argument ('3e8') for option '--gain' is invalid\n"},
        {{"-r", "x.cu8", "--gain", "3"}, "Error: conflicting options '--input' and '--gain'\n"},
        {{"--agc", "--input=-"}, "Error: conflicting options '--input' and '--agc'\n"},
        {{"-r", "-", "--device-index", "0"},
         "Error: conflicting options '--input' and '--device-index'\n"},
        {{"-r", "-", "--freq-correction", "0"},
         "Error: conflicting options '--input' and '--freq-correction'\n"},
        {{"--device"},
         "Error: option '--device' is ambiguous and matches '--device-index', and "
         "'--device-list'\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = keelwave(c.arguments);
        EXPECT_EQ(result.status, 1) << c.error;
        EXPECT_EQ(result.err, c.error);
        EXPECT_THAT(afterBanner(result), IsEmpty());
    }
}

TEST(CommandLine, ValuesParseAfterAnEqualsSignOrAsTheNextWord) {
    EXPECT_EQ(parse({"--gain=20.5"})["gain"].as<float>(), 20.5f);
    EXPECT_EQ(parse({"--gain", "20.5"})["gain"].as<float>(), 20.5f);
    EXPECT_EQ(parse({"--net=10110", "--device-index", "3"})["net"].as<unsigned>(), 10110u);
    EXPECT_EQ(parse({"--freq-correction", "-12"})["freq-correction"].as<int>(), -12);
    EXPECT_EQ(parse({"--udp", "host:10110"})["udp"].as<std::string>(), "host:10110");
}

TEST(CommandLine, AbbreviationsAreAcceptedAndStrayWordsIgnored) {
    const po::variables_map options = parse({"--verb", "stray", "--no-con", "--agc"});
    EXPECT_EQ(options.count("verbose"), 1u);
    EXPECT_EQ(options.count("no-console"), 1u);
    EXPECT_EQ(options.count("agc"), 1u);
    std::vector<std::string> stored;
    for (const auto& entry : options) {
        stored.push_back(entry.first);
    }
    EXPECT_THAT(stored, ElementsAre("agc", "no-console", "verbose"));
}

TEST(CommandLine, NoOptionHasADefaultValue) {
    EXPECT_TRUE(parse({}).empty());
    EXPECT_THROW(parse({"--net", "70000x"}), po::invalid_option_value);
    EXPECT_EQ(parse({"--net", "70000"})["net"].as<unsigned>(), 70000u);
}
