// The command line as the user writes it: targets, decimal values, clamping,
// and the first value that does not convert.
#include "options/capture_options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr auto kNamed = ParseResult::TargetNamed;
constexpr auto kNone = ParseResult::NoTarget;

struct Parsed {
    ParseResult result;
    CaptureOptions options;
    ParseError error;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "procloop");
    Parsed p{};
    p.result = parseCommandLine(static_cast<int>(args.size()), args.data(), p.options, p.error);
    return p;
}

struct Fields {
    const char* name;
    std::vector<const char*> args;
    ParseResult result;
    std::uint32_t pid;
    std::uint64_t hwnd;
    std::int32_t sampleRate;
    std::int32_t channels;
    bool includeChildren;
};
void PrintTo(const Fields& c, std::ostream* os) { *os << c.name; }

class ParseFields : public ::testing::TestWithParam<Fields> {};

TEST_P(ParseFields, GivesTheseOptions) {
    const Fields& c = GetParam();
    const Parsed p = parse(c.args);
    EXPECT_EQ(p.result, c.result);
    EXPECT_EQ(p.options.pid, c.pid);
    EXPECT_EQ(p.options.hwnd, c.hwnd);
    EXPECT_EQ(p.options.sampleRate, c.sampleRate);
    EXPECT_EQ(p.options.channels, c.channels);
    EXPECT_EQ(p.options.includeChildren, c.includeChildren);
}

const Fields kFields[] = {
    {"Defaults", {}, kNone, 0, 0, 48000, 2, false},
    {"Pid", {"--pid", "1234"}, kNamed, 1234, 0, 48000, 2, false},
    {"Hwnd", {"--hwnd", "6699"}, kNamed, 0, 6699, 48000, 2, false},
    {"HexHwndReadsAsZero", {"--hwnd", "0x1A2B"}, kNone, 0, 0, 48000, 2, false},
    {"PidZeroIsNoTarget", {"--pid", "0"}, kNone, 0, 0, 48000, 2, false},
    {"PidZeroLeavesTheWindow", {"--pid", "0", "--hwnd", "5"}, kNamed, 0, 5, 48000, 2, false},
    {"MissingValue", {"--pid"}, kNone, 0, 0, 48000, 2, false},
    {"LastOneWins", {"--pid", "10", "--pid", "20"}, kNamed, 20, 0, 48000, 2, false},
    {"NegativePidWraps", {"--pid", "-1"}, kNamed, 4294967295u, 0, 48000, 2, false},
    {"MostNegativePidWrapsToOne", {"--pid", "-4294967295"}, kNamed, 1, 0, 48000, 2, false},
    {"LargestPid", {"--pid", "4294967295"}, kNamed, 4294967295u, 0, 48000, 2, false},
    {"LeadingSpaceAndPlus", {"--pid", " \t\n\v\f\r+42"}, kNamed, 42, 0, 48000, 2, false},
    {"TrailingTextEndsTheNumber", {"--pid", "12abc"}, kNamed, 12, 0, 48000, 2, false},
    {"LeadingZerosAreDecimal", {"--pid", "007"}, kNamed, 7, 0, 48000, 2, false},
    {"NamesAreCaseSensitive", {"--PID", "5"}, kNone, 0, 0, 48000, 2, false},
    {"UnknownArgumentsAreSkipped", {"stray", "--pid", "9", "--include-child-processes"}, kNamed, 9, 0, 48000, 2, true},
    {"LargestHwnd", {"--hwnd", "18446744073709551615"}, kNamed, 0, UINT64_MAX, 48000, 2, false},
    {"NegativeHwndWraps", {"--hwnd", "-1"}, kNamed, 0, UINT64_MAX, 48000, 2, false},
    {"MostNegativeHwndWrapsToOne", {"--hwnd", "-18446744073709551615"}, kNamed, 0, 1, 48000, 2, false},
    {"RateClampedUp", {"--pid", "9", "--sample-rate", "1"}, kNamed, 9, 0, 8000, 2, false},
    {"RateClampedDown", {"--pid", "9", "--sample-rate", "500000"}, kNamed, 9, 0, 192000, 2, false},
    {"SmallestRate", {"--pid", "9", "--sample-rate", "-2147483648"}, kNamed, 9, 0, 8000, 2, false},
    {"LargestRate", {"--pid", "9", "--sample-rate", "2147483647"}, kNamed, 9, 0, 192000, 2, false},
    {"RateWithUnit", {"--pid", "9", "--sample-rate", " 96000hz"}, kNamed, 9, 0, 96000, 2, false},
    {"NoChannels", {"--pid", "9", "--channels", "0"}, kNamed, 9, 0, 48000, 1, false},
    {"NegativeChannels", {"--pid", "9", "--channels", "-3"}, kNamed, 9, 0, 48000, 1, false},
    {"TooManyChannels", {"--pid", "9", "--channels", "12"}, kNamed, 9, 0, 48000, 8, false},
    {"SixChannels", {"--pid", "9", "--channels", "6"}, kNamed, 9, 0, 48000, 6, false},
    {"ChannelsWithoutValue", {"--pid", "9", "--channels"}, kNamed, 9, 0, 48000, 2, false},
    {"IncludeWithoutTarget", {"--include-child-processes"}, kNone, 0, 0, 48000, 2, true},
};
INSTANTIATE_TEST_SUITE_P(All, ParseFields, ::testing::ValuesIn(kFields),
                         [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    const char* name;
    std::vector<const char*> args;
    const char* option;
    const char* value;
};
void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class ParseRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ParseRefusal, NamesTheOptionAndValueAsGiven) {
    const Parsed p = parse(GetParam().args);
    ASSERT_EQ(p.result, ParseResult::InvalidValue);
    EXPECT_STREQ(p.error.option, GetParam().option);
    EXPECT_STREQ(p.error.value, GetParam().value);
}

const Refusal kRefusals[] = {
    {"Letters", {"--pid", "abc"}, "--pid", "abc"},
    {"AnotherOption", {"--pid", "--include-child-processes"}, "--pid", "--include-child-processes"},
    {"PidPast32Bits", {"--pid", "4294967296"}, "--pid", "4294967296"},
    {"NegativePidPast32Bits", {"--pid", "-4294967296"}, "--pid", "-4294967296"},
    {"FarTooLong", {"--pid", "99999999999999999999999"}, "--pid", "99999999999999999999999"},
    {"Empty", {"--pid", ""}, "--pid", ""},
    {"SignAlone", {"--pid", "-"}, "--pid", "-"},
    {"SpaceAfterSign", {"--pid", "- 5"}, "--pid", "- 5"},
    {"HwndPast64Bits", {"--hwnd", "18446744073709551616"}, "--hwnd", "18446744073709551616"},
    {"HwndTenTimesTooLong", {"--hwnd", "184467440737095516150"}, "--hwnd", "184467440737095516150"},
    {"RatePast31Bits", {"--pid", "1", "--sample-rate", "2147483648"}, "--sample-rate", "2147483648"},
    {"RateBelowInt32", {"--sample-rate", "-2147483649"}, "--sample-rate", "-2147483649"},
    {"PlusAlone", {"--sample-rate", "+"}, "--sample-rate", "+"},
    {"ChannelsBelowInt32", {"--pid", "1", "--channels", "-2147483649"}, "--channels", "-2147483649"},
    {"EmptyChannels", {"--channels", ""}, "--channels", ""},
    {"DurationLetters", {"--pid", "1", "--duration", "x"}, "--duration", "x"},
    {"DurationPast32Bits", {"--duration", "4294967296"}, "--duration", "4294967296"},
    {"FirstBadValueWins", {"--pid", "x", "--hwnd", "y"}, "--pid", "x"},
};
INSTANTIATE_TEST_SUITE_P(All, ParseRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// --help and --version win even over a bad value or where a value belongs; --wav is a switch.
TEST(ParseCommandLine, RequestsWinAndWavIsASwitch) {
    EXPECT_EQ(parse({"--pid", "abc", "--help"}).result, ParseResult::Help);
    EXPECT_EQ(parse({"--pid", "--version"}).result, ParseResult::Version);
    EXPECT_EQ(parse({"--channels", "x", "--version", "--help"}).result, ParseResult::Version);
    EXPECT_EQ(parse({"--HELP", "-h", "--pid", "1"}).result, ParseResult::TargetNamed);
    EXPECT_TRUE(parse({"--wav", "--pid", "3"}).options.wav);
    EXPECT_FALSE(parse({"--pid", "--wav"}).options.wav);  // a value, whatever it looks like
}

TEST(ParseCommandLine, StopWithTargetAndDuration) {
    const Parsed unset = parse({"--pid", "5"});
    EXPECT_FALSE(unset.options.stopWithTarget);
    EXPECT_EQ(unset.options.durationSeconds, 0u);
    const Parsed o = parse({"--pid", "5", "--duration", "2.5", "--stop-with-target"});
    EXPECT_EQ(o.result, ParseResult::TargetNamed);
    EXPECT_TRUE(o.options.stopWithTarget);
    EXPECT_EQ(o.options.durationSeconds, 2u);  // the digits; what follows them is ignored
}

}  // namespace

TEST(ParseCommandLine, ContinuousIsASwitch) {
    EXPECT_FALSE(parse({"--pid", "5"}).options.continuous);
    EXPECT_TRUE(parse({"--continuous", "--pid", "5"}).options.continuous);
    EXPECT_FALSE(parse({"--pid", "--continuous"}).options.continuous);  // a value there
}
