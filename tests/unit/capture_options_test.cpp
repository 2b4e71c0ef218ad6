#include "options/capture_options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    ParseResult result;
    CaptureOptions options;
    ParseError error;
};

Outcome parse(std::vector<const char*> args) {
    args.insert(args.begin(), "procloop");
    Outcome o;
    o.result = parseCommandLine(static_cast<int>(args.size()), args.data(), o.options, o.error);
    return o;
}

TEST(ParseCommandLine, NoArgumentsKeepsDefaultsAndNamesNoTarget) {
    const Outcome o = parse({});
    EXPECT_EQ(o.result, ParseResult::NoTarget);
    EXPECT_EQ(o.options.pid, 0u);
    EXPECT_EQ(o.options.hwnd, 0u);
    EXPECT_EQ(o.options.sampleRate, 48000);
    EXPECT_EQ(o.options.channels, 2);
    EXPECT_FALSE(o.options.includeChildren);
}

TEST(ParseCommandLine, TargetAndFields) {
    struct Case {
        std::vector<const char*> args;
        ParseResult result;
        std::uint32_t pid;
        std::uint64_t hwnd;
        std::int32_t sampleRate;
        std::int32_t channels;
        bool includeChildren;
    };
    const Case cases[] = {
        {{"--pid", "1234"}, ParseResult::TargetNamed, 1234, 0, 48000, 2, false},
        {{"--hwnd", "6699"}, ParseResult::TargetNamed, 0, 6699, 48000, 2, false},
        {{"--hwnd", "0x1A2B"}, ParseResult::NoTarget, 0, 0, 48000, 2, false},
        {{"--pid", "0", "--hwnd", "5"}, ParseResult::TargetNamed, 0, 5, 48000, 2, false},
        {{"--pid"}, ParseResult::NoTarget, 0, 0, 48000, 2, false},
        {{"--pid", "10", "--pid", "20"}, ParseResult::TargetNamed, 20, 0, 48000, 2, false},
        {{"--pid", "-1"}, ParseResult::TargetNamed, 4294967295u, 0, 48000, 2, false},
        {{"--PID", "5"}, ParseResult::NoTarget, 0, 0, 48000, 2, false},
        {{"stray", "--pid", "9", "--include-child-processes"}, ParseResult::TargetNamed, 9, 0, 48000, 2, true},
        {{"--pid", "9", "--sample-rate", "1"}, ParseResult::TargetNamed, 9, 0, 8000, 2, false},
        {{"--pid", "9", "--sample-rate", "500000"}, ParseResult::TargetNamed, 9, 0, 192000, 2, false},
        {{"--pid", "9", "--sample-rate", "44100"}, ParseResult::TargetNamed, 9, 0, 44100, 2, false},
        {{"--pid", "9", "--sample-rate", "-2147483648"}, ParseResult::TargetNamed, 9, 0, 8000, 2, false},
        {{"--pid", "9", "--channels", "0"}, ParseResult::TargetNamed, 9, 0, 48000, 1, false},
        {{"--pid", "9", "--channels", "-3"}, ParseResult::TargetNamed, 9, 0, 48000, 1, false},
        {{"--pid", "9", "--channels", "12"}, ParseResult::TargetNamed, 9, 0, 48000, 8, false},
        {{"--pid", "9", "--channels", "6"}, ParseResult::TargetNamed, 9, 0, 48000, 6, false},
        {{"--pid", "9", "--channels"}, ParseResult::TargetNamed, 9, 0, 48000, 2, false},
        {{"--include-child-processes"}, ParseResult::NoTarget, 0, 0, 48000, 2, true},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const char* a : c.args) label += std::string(a) + " ";
        const Outcome o = parse(c.args);
        EXPECT_EQ(o.result, c.result) << label;
        EXPECT_EQ(o.options.pid, c.pid) << label;
        EXPECT_EQ(o.options.hwnd, c.hwnd) << label;
        EXPECT_EQ(o.options.sampleRate, c.sampleRate) << label;
        EXPECT_EQ(o.options.channels, c.channels) << label;
        EXPECT_EQ(o.options.includeChildren, c.includeChildren) << label;
    }
}

TEST(ParseCommandLine, ConversionErrorsNameTheOptionAndValueAsGiven) {
    struct Case {
        std::vector<const char*> args;
        const char* option;
        const char* value;
    };
    const Case cases[] = {
        {{"--pid", "abc"}, "--pid", "abc"},
        {{"--pid", "--include-child-processes"}, "--pid", "--include-child-processes"},
        {{"--pid", "4294967296"}, "--pid", "4294967296"},
        {{"--pid", "-4294967296"}, "--pid", "-4294967296"},
        {{"--hwnd", "18446744073709551616"}, "--hwnd", "18446744073709551616"},
        {{"--pid", "1", "--sample-rate", "2147483648"}, "--sample-rate", "2147483648"},
        {{"--pid", "1", "--channels", "-2147483649"}, "--channels", "-2147483649"},
        {{"--channels", ""}, "--channels", ""},
        {{"--pid", "x", "--hwnd", "y"}, "--pid", "x"},
    };
    for (const Case& c : cases) {
        const Outcome o = parse(c.args);
        ASSERT_EQ(o.result, ParseResult::InvalidValue) << c.value;
        EXPECT_STREQ(o.error.option, c.option);
        EXPECT_STREQ(o.error.value, c.value);
    }
}

TEST(ParseCommandLine, StopWithTargetAndDuration) {
    const Outcome unset = parse({"--pid", "5"});
    EXPECT_FALSE(unset.options.stopWithTarget);
    EXPECT_EQ(unset.options.durationSeconds, 0u);
    const Outcome o = parse({"--pid", "5", "--duration", "2.5", "--stop-with-target"});
    EXPECT_EQ(o.result, ParseResult::TargetNamed);
    EXPECT_TRUE(o.options.stopWithTarget);
    EXPECT_EQ(o.options.durationSeconds, 2u);  // the digits; what follows them is ignored
}

}  // namespace
