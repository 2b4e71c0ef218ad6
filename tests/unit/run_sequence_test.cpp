// The run sequence up to the capture set-up: its lines and exit codes. Runs
// that reach the capture use a COM failure to stop right there.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/stop_signal.h"
#include "platform/posix/control.h"
#include "run_harness.h"

namespace {

constexpr const char* kStopAtCapture = "error: CoInitializeEx failed hr=0x80010106\n";

class RunSequence : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        standin::failCoInitialize(RPC_E_CHANGED_MODE);
    }
};

TEST_F(RunSequence, RefusesToRunWithoutATarget) {
    for (const auto& args : {std::initializer_list<const char*>{}, {"--pid"}, {"--hwnd", "0x1A2B"}, {"--pid", "0"}}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "error: --pid <pid> or --hwnd <hwnd> is required\n");
        EXPECT_EQ(standin::rtlGetVersionCalls(), 0u);
    }
}

TEST_F(RunSequence, AConversionErrorStopsBeforeAnythingElse) {
    struct Case {
        std::initializer_list<const char*> args;
        const char* err;
    };
    const Case cases[] = {
        {{"--pid", "abc"}, "error: invalid value for --pid: abc\n"},
        {{"--pid", "1", "--sample-rate", "2147483648"}, "error: invalid value for --sample-rate: 2147483648\n"},
        {{"--hwnd", "99999999999999999999"}, "error: invalid value for --hwnd: 99999999999999999999\n"},
        {{"--pid", "--include-child-processes"}, "error: invalid value for --pid: --include-child-processes\n"},
    };
    for (const Case& c : cases) {
        standin::setNtdll({true, true, 0, 10, 0, 22621});
        const RunResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(standin::rtlGetVersionCalls(), 0u);
        EXPECT_TRUE(r.journal.empty());  // nothing of the capture ran
    }
}

TEST_F(RunSequence, ResolvesTheTarget) {
    // Without an X server no window resolves; the whole-process tests resolve
    // real windows on a server of their own.
    const char* display = std::getenv("DISPLAY");
    const std::string savedDisplay = display != nullptr ? display : "";
    ::unsetenv("DISPLAY");

    // A given pid wins over the window.
    RunResult r = run({"--hwnd", "6699", "--pid", "17", "--include-child-processes"});
    EXPECT_EQ(r.err, std::string("info: pid=17 includeChildren=true\n") + kStopAtCapture);
    EXPECT_EQ(r.exitCode, 1);

    struct Case {
        std::initializer_list<const char*> args;
        const char* err;
    };
    const Case cases[] = {
        {{"--hwnd", "6699", "--pid", "0"}, "error: could not resolve HWND 0000000000001A2B to a process id\n"},
        {{"--hwnd", "77"}, "error: could not resolve HWND 000000000000004D to a process id\n"},
        {{"--hwnd", "18446744073709551615"}, "error: could not resolve HWND FFFFFFFFFFFFFFFF to a process id\n"},
    };
    for (const Case& c : cases) {
        r = run(c.args);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.exitCode, 1);
    }
    if (display != nullptr) ::setenv("DISPLAY", savedDisplay.c_str(), 1);
}

TEST_F(RunSequence, VersionProbe) {
    struct Case {
        const char* label;
        standin::NtdllConfig ntdll;
        const char* lines;
    };
    const Case cases[] = {
        {"no ntdll", {false, false, 0, 10, 0, 20348}, ""},
        {"no entry", {true, false, 0, 10, 0, 20348}, ""},
        {"call fails", {true, true, static_cast<LONG>(0xC0000001), 10, 0, 20348}, ""},
        {"first build with loopback", {true, true, 0, 10, 0, 20348}, "info: windows version 10.0 build 20348\n"},
        {"older build",
         {true, true, 0, 10, 0, 19045},
         "info: windows version 10.0 build 19045\n"
         "warn: process loopback capture requires Windows build 20348 or later\n"},
        {"newer build", {true, true, 0, 10, 0, 26100}, "info: windows version 10.0 build 26100\n"},
    };
    for (const Case& c : cases) {
        standin::setNtdll(c.ntdll);
        const RunResult r = run({"--pid", "5"});
        EXPECT_EQ(r.err, std::string("info: pid=5 includeChildren=false\n") + c.lines + kStopAtCapture) << c.label;
        EXPECT_EQ(r.exitCode, 1) << c.label;
    }
}

TEST_F(RunSequence, PreparesTheStreamsAndTheStopSignal) {
    const RunResult r = run({});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(standin::streamMode(1), _O_BINARY);
    EXPECT_EQ(standin::streamMode(2), _O_TEXT);
    // The handler is in place even though the run stopped early: Ctrl+Break
    // sent to the process reaches it (unhandled, it would end the test run).
    ASSERT_EQ(::kill(::getpid(), SIGQUIT), 0);
    for (int i = 0; i < 500 && !stopRequested.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(stopRequested.load());
}

}  // namespace
