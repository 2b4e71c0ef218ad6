// --hwnd on Linux: an X11 window id, resolved to its owner's pid by a private
// X server the test starts (Xvfb), with windows mapped by a test client.
#include <sys/stat.h>

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "background_process.h"
#include "host_run.h"
#include "xvfb_server.h"

namespace {

// Resolved: capture starts for that pid; stopped with Ctrl+C.
ChildResult captureWindow(const std::string& display, const std::string& hwnd) {
    ChildOptions options = procloop({"--hwnd", hwnd});
    options.env = {{"DISPLAY", display}};
    options.signalWhenErrContains = "capture started";
    return runChild(options);
}

std::string unresolved(unsigned long long hwnd) {
    char text[96];
    std::snprintf(text, sizeof text, "error: could not resolve HWND %016llX to a process id\n", hwnd);
    return text;
}

struct WindowCase {
    const char* name;
    bool xResource;        // the server offers the X-Resource extension
    const char* netWmPid;  // what the client sets: "own", "none" or a number
    enum Owner { Client, Claimed, Nobody } owner;
};
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }
constexpr const char* kClaimedPid = "424242";

class WindowOwner : public ::testing::TestWithParam<WindowCase> {};

TEST_P(WindowOwner, IsTheClientTheServerKnows) {
    const WindowCase& c = GetParam();
    const XvfbServer server(c.xResource);
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    BackgroundProcess client({PROCLOOP_X11_WINDOW_TOOL, c.netWmPid}, {{"DISPLAY", server.display()}});
    const std::string hwnd = client.readLine(10000);
    ASSERT_FALSE(hwnd.empty()) << "the test client mapped no window";

    const ChildResult r = captureWindow(server.display(), hwnd);
    ASSERT_FALSE(r.timedOut);
    switch (c.owner) {
        case WindowCase::Client:
        case WindowCase::Claimed: {
            const unsigned long pid = c.owner == WindowCase::Client ? static_cast<unsigned long>(client.pid())
                                                                     : std::stoul(kClaimedPid);
            EXPECT_TRUE(r.signalled);
            EXPECT_EQ(r.exitCode, 0);
            EXPECT_EQ(r.err, captureHead(pid) + kStopped);
            break;
        }
        case WindowCase::Nobody:
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.err, unresolved(std::stoull(hwnd)));
            EXPECT_TRUE(r.out.empty());
            break;
    }
}

// The server's word beats what the client claims; without X-Resource the
// claim is all there is.
INSTANTIATE_TEST_SUITE_P(
    Windows, WindowOwner,
    ::testing::Values(WindowCase{"ServerOwnPid", true, "own", WindowCase::Client},
                      WindowCase{"ServerNoPid", true, "none", WindowCase::Client},
                      WindowCase{"ServerFakePid", true, kClaimedPid, WindowCase::Client},
                      WindowCase{"PropertyOwnPid", false, "own", WindowCase::Client},
                      WindowCase{"PropertyNoPid", false, "none", WindowCase::Nobody},
                      WindowCase{"PropertyFakePid", false, kClaimedPid, WindowCase::Claimed}),
    [](const auto& info) { return std::string(info.param.name); });

struct NoWindowCase {
    const char* name;
    enum Display { Unset, Dead, Live } display;
    unsigned long long offset;  // added to a real window's id
};
void PrintTo(const NoWindowCase& c, std::ostream* os) { *os << c.name; }

class NoSuchWindow : public ::testing::TestWithParam<NoWindowCase> {};

TEST_P(NoSuchWindow, IsReportedAndEndsTheRun) {
    const NoWindowCase& c = GetParam();
    const XvfbServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    BackgroundProcess client({PROCLOOP_X11_WINDOW_TOOL, "own"}, {{"DISPLAY", server.display()}});
    const std::string window = client.readLine(10000);
    ASSERT_FALSE(window.empty()) << "the test client mapped no window";
    const unsigned long long hwnd = std::stoull(window) + c.offset;

    ChildOptions options = procloop({"--hwnd", std::to_string(hwnd)});
    switch (c.display) {
        case NoWindowCase::Unset:
            options.env.emplace_back("DISPLAY", "");
            break;
        case NoWindowCase::Dead: {
            // A display number with no server behind it.
            int number = 1000;
            struct stat st {};
            while (::stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &st) == 0) ++number;
            options.env = {{"DISPLAY", ":" + std::to_string(number)}};
            break;
        }
        case NoWindowCase::Live:
            options.env = {{"DISPLAY", server.display()}};
            break;
    }
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, unresolved(hwnd));
    EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, NoSuchWindow,
    ::testing::Values(NoWindowCase{"NoDisplay", NoWindowCase::Unset, 0},
                      NoWindowCase{"NoServer", NoWindowCase::Dead, 0},
                      // An id in the same client's range: the server knows the
                      // client, but there is no window.
                      NoWindowCase{"NextToARealWindow", NoWindowCase::Live, 1},
                      NoWindowCase{"BeyondThirtyTwoBits", NoWindowCase::Live, 1ULL << 32}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
