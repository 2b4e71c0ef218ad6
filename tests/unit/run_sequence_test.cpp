// The run sequence up to the capture set-up: its lines and exit codes. Runs
// that reach the capture stop right there on a COM failure.
#include <string>

#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

constexpr const char* kBuild22621 = "info: windows version 10.0 build 22621\n";
constexpr const char* kStopAtCapture = "error: CoInitializeEx failed hr=0x80010106\n";
constexpr fakeplatform::Ntdll kWindows11{true, true, 0, 10, 0, 22621};

struct Case {
    const char* name;
    std::vector<const char*> args;
    std::string err;
    fakeplatform::Ntdll ntdll = kWindows11;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class RunSequence : public RunTest, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        RunTest::SetUp();
        fakeplatform::controls().coInitializeStatus = RPC_E_CHANGED_MODE;
        ::setenv("DISPLAY", "", 1);  // no X server: no window resolves
    }
};

TEST_P(RunSequence, WritesTheseLinesAndExitsWithOne) {
    fakeplatform::controls().ntdll = GetParam().ntdll;
    const RunResult r = run(GetParam().args);
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
}

const std::string kPid5 = "info: pid=5 includeChildren=false\n";
const Case kCases[] = {
    {"PidWinsOverAnUnknownWindow", {"--hwnd", "77", "--pid", "17", "--include-child-processes"},
     std::string("info: pid=17 includeChildren=true\n") + kBuild22621 + kStopAtCapture},
    // A pid, then a window, win over a name, which is then not looked up.
    {"PidWinsOverAName", {"--name", "sleep", "--pid", "17"},
     std::string("info: pid=17 includeChildren=false\n") + kBuild22621 + kStopAtCapture},
    {"WindowWinsOverAName", {"--hwnd", "77", "--name", "sleep"},
     "error: could not resolve HWND 000000000000004D to a process id\n"},
    {"LargestWindow", {"--hwnd", "18446744073709551615"}, "error: could not resolve HWND FFFFFFFFFFFFFFFF to a process id\n"},
    {"NoNtdll", {"--pid", "5"}, kPid5 + kStopAtCapture, {false, false, 0, 10, 0, 22621}},
    {"NoVersionEntry", {"--pid", "5"}, kPid5 + kStopAtCapture, {true, false, 0, 10, 0, 22621}},
    {"VersionCallFails", {"--pid", "5"}, kPid5 + kStopAtCapture, {true, true, static_cast<LONG>(0xC0000001), 10, 0, 22621}},
    {"FirstLoopbackBuild", {"--pid", "5"}, kPid5 + "info: windows version 10.0 build 20348\n" + kStopAtCapture,
     {true, true, 0, 10, 0, 20348}},
    {"OlderBuildWarns", {"--pid", "5"},
     kPid5 + "info: windows version 10.0 build 19045\n" +
         "warn: process loopback capture requires Windows build 20348 or later\n" + kStopAtCapture,
     {true, true, 0, 10, 0, 19045}},
};
INSTANTIATE_TEST_SUITE_P(All, RunSequence, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
