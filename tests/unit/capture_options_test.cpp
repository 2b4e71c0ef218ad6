// The command line as the user writes it: targets, decimal values, clamping,
// switches, the requests that win, and the first value that does not convert.
// The fuzzer checks the clamps' bounds and the target rule on any input; the
// rows here are the command lines whose meaning a fault would change.
#include "options/capture_options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// What the parser made of the arguments, as one line: the answer, and for a
// capture every field, the switches only when set.
std::string parsed(std::vector<const char*> args) {
    args.insert(args.begin(), "procloop");
    args.push_back(nullptr);  // as main's argv ends
    CaptureOptions o;
    ParseError e;
    const ParseResult result = parseCommandLine(static_cast<int>(args.size() - 1), args.data(), o, e);
    const char* const kResults[] = {"target", "none", "command+target", "invalid", "help", "version", "list"};  // in the enum's order
    std::string text = kResults[static_cast<int>(result)];
    if (result == ParseResult::InvalidValue) return text + " " + e.option + " " + e.value;
    if (result != ParseResult::TargetNamed && result != ParseResult::NoTarget) return text;
    text += " pid=" + std::to_string(o.pid) + " hwnd=" + std::to_string(o.hwnd) + " " + std::to_string(o.sampleRate) +
            " Hz " + std::to_string(o.channels) + " ch";
    if (o.name != nullptr) text += " name=" + std::string(o.name);
    if (o.includeChildren) text += " tree";
    if (o.wav) text += " wav";
    if (o.stopWithTarget) text += " stop";
    if (o.stopWithStdin) text += " stdin";
    if (o.durationSeconds != 0) text += " duration=" + std::to_string(o.durationSeconds);
    if (o.continuous) text += " continuous";
    if (o.waitForName) text += " wait";
    if (o.commandOutput != nullptr) text += " output=" + std::string(o.commandOutput);
    for (const char* const* arg = o.command; arg != nullptr && *arg != nullptr; ++arg) text += " [" + std::string(*arg) + "]";
    return text;
}

struct Row {
    const char* name;
    std::vector<const char*> args;
    const char* parsed;
};
void PrintTo(const Row& c, std::ostream* os) { *os << c.name; }

class Parse : public ::testing::TestWithParam<Row> {};

TEST_P(Parse, GivesThis) { EXPECT_EQ(parsed(GetParam().args), GetParam().parsed); }

const Row kRows[] = {
    {"NameAndAValueMissing", {"--name", "player", "--pid"}, "target pid=0 hwnd=0 48000 Hz 2 ch name=player"},
    {"HexHwndReadsAsZeroAllElseDefaults", {"--hwnd", "0x1A2B"}, "none pid=0 hwnd=0 48000 Hz 2 ch"},
    // The last value wins; a pid of 0 leaves the window.
    {"LastPidWinsZeroLeavesWindow", {"--pid", "7", "--pid", "0", "--hwnd", "5"}, "target pid=0 hwnd=5 48000 Hz 2 ch"},
    {"NegativeValuesWrap", {"--pid", "-1", "--hwnd", "-18446744073709551615"},
     "target pid=4294967295 hwnd=1 48000 Hz 2 ch"},
    {"MostNegativePidWrapsToOne", {"--pid", "-4294967295"}, "target pid=1 hwnd=0 48000 Hz 2 ch"},
    // Leading space and a plus sign are skipped; text after the digits ends the number.
    {"SpaceSignAndText", {"--pid", " \t\n\v\f\r+42", "--hwnd", "12abc"}, "target pid=42 hwnd=12 48000 Hz 2 ch"},
    // Names are case-sensitive; anything unknown is skipped, a value after it too.
    {"UnknownSkipped", {"stray", "--PID", "5", "-h", "--HELP", "--pid", "9"}, "target pid=9 hwnd=0 48000 Hz 2 ch"},
    {"ClampedUp", {"--sample-rate", "1", "--channels", "0"}, "none pid=0 hwnd=0 8000 Hz 1 ch"},
    {"ClampedDown", {"--sample-rate", "500000", "--channels", "12"}, "none pid=0 hwnd=0 192000 Hz 8 ch"},
    // Of a duration only the digits count.
    {"ValuesAndSwitches",
     {"--continuous", "--pid", "5", "--sample-rate", "96000", "--channels", "6", "--duration", "2.5", "--wav",
      "--stop-with-target", "--include-child-processes", "--stop-with-stdin"},
     "target pid=5 hwnd=0 96000 Hz 6 ch tree wav stop stdin duration=2 continuous"},
    // A value is taken whatever it looks like, a switch's name too.
    {"SwitchWhereAValueBelongs", {"--pid", "--wav"}, "invalid --pid --wav"},
    // Requests win even over a bad value or where a value belongs; the first is answered.
    {"VersionWhereAValueBelongs", {"--pid", "--version"}, "version"},
    {"FirstRequestWins", {"--channels", "x", "--list", "--version", "--help"}, "list"},
    {"SignAlone", {"--pid", "-"}, "invalid --pid -"},
    {"PidPast32Bits", {"--pid", "4294967296"}, "invalid --pid 4294967296"},
    {"HwndPast64Bits", {"--hwnd", "18446744073709551616"}, "invalid --hwnd 18446744073709551616"},
    {"HwndTenTimesTooLong", {"--hwnd", "184467440737095516150"}, "invalid --hwnd 184467440737095516150"},
    {"RatePast31Bits", {"--pid", "1", "--sample-rate", "2147483648"}, "invalid --sample-rate 2147483648"},
    {"RateBelowInt32", {"--sample-rate", "-2147483649"}, "invalid --sample-rate -2147483649"},
    {"DurationPast32Bits", {"--duration", "4294967296"}, "invalid --duration 4294967296"},
    {"FirstBadValueWins", {"--pid", "x", "--hwnd", "y"}, "invalid --pid x"},
    // After "--" everything is the command's, its requests and bad values too.
    {"Command", {"--wav", "--command-output", "o.txt", "--", "play", "--help", "--pid", "x", "--"},
     "target pid=0 hwnd=0 48000 Hz 2 ch wav output=o.txt [play] [--help] [--pid] [x] [--]"},
    {"CommandWithPid", {"--pid", "5", "--", "play"}, "command+target"},
    {"CommandWithHwnd", {"--", "play", "--hwnd", "5"}, "target pid=0 hwnd=0 48000 Hz 2 ch [play] [--hwnd] [5]"},
    {"CommandWithName", {"--hwnd", "5", "--name", "x", "--", "play"}, "command+target"},
    {"DashDashAsAValue", {"--name", "--", "play", "--wait"}, "target pid=0 hwnd=0 48000 Hz 2 ch name=-- wait"},
    {"NoCommandAfterDashDash", {"--"}, "none pid=0 hwnd=0 48000 Hz 2 ch"},
};
INSTANTIATE_TEST_SUITE_P(All, Parse, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
