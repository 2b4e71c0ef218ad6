// --hwnd on Linux: an X11 window id, resolved to its owner's pid on a private
// X server the test starts (Xvfb); the test process itself maps the windows.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

constexpr long kNone = -1, kUs = 0, kClaimed = 424242;

struct WindowCase {
    const char* name;
    bool xResource;  // the server offers the X-Resource extension
    long netWmPid;   // the window's _NET_WM_PID: kNone, kUs (as toolkits set it) or a lie
    long owner;      // whom procloop captures; kNone: it cannot tell
    unsigned long long offset = 0;  // added to the window's id
};
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

xcb_window_t mapWindow(xcb_connection_t* x, long netWmPid) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const xcb_window_t window = xcb_generate_id(x);
    xcb_create_window(x, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 64, 64, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    const auto pid = static_cast<std::uint32_t>(netWmPid == kUs ? ::getpid() : netWmPid);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, 11, "_NET_WM_PID"), nullptr);
    if (atom != nullptr && netWmPid != kNone) {
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
    }
    std::free(atom);
    // Checked, so a round trip: the window exists on the server before procloop asks.
    std::free(xcb_request_check(x, xcb_map_window_checked(x, window)));
    return window;
}

class WindowOwner : public ::testing::TestWithParam<WindowCase> {};

TEST_P(WindowOwner, IsTheClientTheServerKnows) {
    const WindowCase& c = GetParam();
    const TempDir dir;
    // -displayfd: the server takes a free display number and writes it once it
    // accepts connections, so there is no race for a number and no polling.
    ChildOptions xvfb;
    xvfb.argv = {"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"};
    if (!c.xResource) xvfb.argv.insert(xvfb.argv.end(), {"-extension", "X-Resource"});
    xvfb.env = {{"HOME", dir.path()}};
    xvfb.workingDirectory = dir.path();
    unsigned long long hwnd = 0;
    ChildResult r;
    xvfb.onProgress = [&](pid_t server, const ChildResult& soFar) {
        const std::string out(soFar.out.begin(), soFar.out.end());
        if (hwnd != 0 || out.find('\n') == std::string::npos) return;
        const std::string display = ":" + out.substr(0, out.find('\n'));
        xcb_connection_t* x = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(x) == 0) {
            hwnd = mapWindow(x, c.netWmPid) + c.offset;
            ChildOptions options = procloop({"--hwnd", std::to_string(hwnd)});
            // The run stops once it has said whose audio it would capture.
            options.env = {{"DISPLAY", display}, {"STANDIN_ENGINE_SCRIPT", "fail=ActivateAudioInterfaceAsync:80004005"}};
            r = runChild(options);
        }
        xcb_disconnect(x);
        ::kill(server, SIGTERM);
    };
    const ChildResult server = runChild(xvfb);
    ASSERT_NE(hwnd, 0u) << "Xvfb did not start: " << server.err;
    EXPECT_EQ(r.exitCode, 1);
    char unresolved[96];
    std::snprintf(unresolved, sizeof unresolved, "error: could not resolve HWND %016llX to a process id\n", hwnd);
    const std::string pid = std::to_string(c.owner == kUs ? ::getpid() : c.owner);
    const std::string found =
        "info: pid=" + pid + " includeChildren=false\nerror: ActivateAudioInterfaceAsync hr=0x80004005\n";
    EXPECT_EQ(r.err, c.owner == kNone ? unresolved : found);
}

// The server's word beats what the client claims; without X-Resource the claim is all there is.
INSTANTIATE_TEST_SUITE_P(
    Windows, WindowOwner,
    ::testing::Values(WindowCase{"ServerNoPid", true, kNone, kUs}, WindowCase{"ServerFakePid", true, kClaimed, kUs},
                      WindowCase{"PropertyNoPid", false, kNone, kNone},
                      WindowCase{"PropertyFakePid", false, kClaimed, kClaimed},
                      // In the client's id range: the server knows the client, but there is no window.
                      WindowCase{"NextToARealWindow", true, kUs, kNone, 1},
                      WindowCase{"BeyondThirtyTwoBits", true, kUs, kNone, 1ULL << 32}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
