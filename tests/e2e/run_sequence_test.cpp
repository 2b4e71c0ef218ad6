// The run sequence on the fake backend: which target it settles on, what it
// asks the platform to capture, its lines and exit codes, and --list.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

struct Case {
    const char* name;
    std::vector<const char*> args;
    std::string script;
    std::string err;
    std::string out = "";
    // What the platform was asked to capture: pid, tree, rate, channels, watched (no open: "").
    std::string asked = "";
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string askedOf(const fakebackend::Record& record) {
    std::string text;
    for (const CaptureRequest& r : record.opens) {
        text += std::to_string(r.pid) + (r.includeTree ? " tree " : " others ") + std::to_string(r.sampleRate) + " " +
                std::to_string(r.channels) + (r.watchTarget ? " watched" : "");
    }
    return text;
}

class Sequence : public RunTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Sequence, SaysWhatItDidAndEndsWithItsCode) {
    const Case& c = GetParam();
    const RunResult r = run(c.args, c.script);
    EXPECT_EQ(r.exitCode, c.err.find("error:") == std::string::npos ? 0 : 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(std::string(r.out.begin(), r.out.end()), c.out);
    EXPECT_EQ(askedOf(r.record), c.asked);
}

const std::string kTable = "pid\tstate\texecutable\troot\n";
const std::string kLost = "warn: fake stream lost\n";
// Two trees of "player" (10 <- 11, and 20), a "shell" whose child 31 is a player.
const std::string kProcesses = "process=1:0:init;process=10:1:player;process=11:10:player;process=20:1:player;"
                               "process=30:1:shell;process=31:30:player;process=40:1:single;process=41:40:helper;";

INSTANTIATE_TEST_SUITE_P(
    Runs, Sequence,
    ::testing::Values(
        Case{"NoTarget", {"--sample-rate", "8000"}, "", "error: --pid <pid> or --hwnd <hwnd> is required\n"},
        Case{"InvalidValue", {"--pid", "12", "--channels", "x2"}, "", "error: invalid value for --channels: x2\n"},
        Case{"Defaults", {"--pid", "1234"}, "", captureHead() + kLost + kStopped, "", "1234 others 48000 2"},
        // Clamped values are the ones asked for and reported.
        Case{"TreeClampedAtEightChannels", {"--pid", "77", "--channels", "12", "--sample-rate", "500000",
              "--include-child-processes", "--stop-with-target"},
             "", captureHead(77, true, 8, 192000) + kLost + kStopped, "", "77 tree 192000 8 watched"},
        Case{"OpenFails", {"--pid", "1234"}, "open=fails",
             "info: pid=1234 includeChildren=false\ninfo: capture format 48000 Hz 2 ch 32 bit float\n"
             "error: fake capture refused\n", "", "1234 others 48000 2"},
        // A pid wins over a window and a name, a window over a name, which is then not looked up.
        Case{"PidWinsOverAWindow", {"--hwnd", "77", "--pid", "17", "--include-child-processes"}, "window=77:5",
             captureHead(17, true) + kLost + kStopped, "", "17 tree 48000 2"},
        Case{"WindowWinsOverAName", {"--name", "player", "--hwnd", "77"}, kProcesses + "window=77:5",
             captureHead(5) + kLost + kStopped, "", "5 others 48000 2"},
        Case{"WindowWithoutOwner", {"--hwnd", "77", "--name", "player"}, kProcesses,
             "error: could not resolve HWND 000000000000004D to a process id\n"},
        Case{"LargestWindow", {"--hwnd", "18446744073709551615"}, "",
             "error: could not resolve HWND FFFFFFFFFFFFFFFF to a process id\n"},
        // Names: the roots of their trees, exactly one of them.
        Case{"NameOfOneTree", {"--name", "single"}, kProcesses, captureHead(40) + kLost + kStopped, "",
             "40 others 48000 2"},
        Case{"NameOfSeveralTrees", {"--name", "player"}, kProcesses, "error: 3 processes named player: 10, 20, 31\n"},
        Case{"NameOfNone", {"--name", "nosuch"}, kProcesses, "error: no process named nosuch\n"},
        // Names compare as exact bytes where the platform says so (the fake's has no platform).
        Case{"NameIsExact", {"--name", "Single"}, kProcesses, "error: no process named Single\n"},
        // --list: one line per process with a session, ascending, active if any of its sessions is.
        Case{"List", {"--list", "--pid", "x"}, kProcesses + "session=41:inactive;session=11:inactive;session=11:active;"
                                                            "session=99:active;session=0:active",
             "", kTable + "11\tactive\tplayer\t10\n41\tinactive\thelper\t41\n"},
        Case{"ListNothing", {"--list"}, "", "", kTable},
        Case{"ListFails", {"--list"}, "sessions=fail", "error: fake sessions refused\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
