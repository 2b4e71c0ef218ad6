// Whom the program captures on Linux. Each run stops once it has said so: the
// stand-in fails the activation right after the pid line.
//
// --name against real processes: copies of sleep under a name of their own,
// alone, as a parent and child, as two independent processes, and none. The
// name is longer than the kernel's 15-character command name, so it is found
// through the executable file, and has characters of two, three and four bytes
// in UTF-8, which must come back from the process list as they went in.
//
// --hwnd: an X11 window id, resolved to its owner's pid on a private X server
// each run starts; the test process itself maps the windows.
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "private_component.h"

namespace {

namespace fs = std::filesystem;

// The run with these arguments (and the environment given besides the stand-in's script).
ChildResult whom(const std::vector<std::string>& args, Environment env = {}) {
    env.emplace_back("FAKE_BACKEND_SCRIPT", "open=fails");
    return runChild(procloop(args, env));
}

// What it says once it has found `pid`.
std::string found(long pid) {
    return "info: pid=" + std::to_string(pid) +
           " includeChildren=false\ninfo: capture format 48000 Hz 2 ch 32 bit float\nerror: fake capture refused\n";
}

struct NameCase {
    const char* label;
    std::vector<const char*> scripts;  // each started by the test: a root of a tree of copies
    unsigned copies;                   // the copies running once all have started
};

class Name : public ::testing::TestWithParam<NameCase> {};

TEST_P(Name, GivesTheOneRootOrSaysWhyNot) {
    const TempDir dir;
    const std::string name = "procloop-name-test-\u00C4\u20AC\U0001F3B5-" + std::to_string(::getpid());
    const std::string copy = dir.path() + "/" + name;
    fs::copy_file("/bin/sleep", copy);
    std::vector<pid_t> roots;
    for (const char* script : GetParam().scripts)
        roots.push_back(spawnProcess({"sh", "-c", script}, {{"COPY", copy}}, dir.path() + "/log"));
    const auto copiesRunning = [&] {
        unsigned running = 0;
        std::error_code none;
        for (const fs::directory_entry& entry : fs::directory_iterator("/proc"))
            running += fs::read_symlink(entry.path() / "exe", none) == copy ? 1 : 0;
        return running;
    };
    for (int i = 0; i < 1000 && copiesRunning() != GetParam().copies; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(copiesRunning(), GetParam().copies);

    const ChildResult r = whom({"--name", name});
    std::sort(roots.begin(), roots.end());
    std::string expected = "error: no process named " + name + "\n";
    if (roots.size() == 1) expected = found(roots[0]);
    if (roots.size() == 2) {
        expected = "error: 2 processes named " + name + ": " + std::to_string(roots[0]) + ", " +
                   std::to_string(roots[1]) + "\n";
    }
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
    // Linux compares the file's name exactly: no other case, no ".exe".
    for (const std::string& other : {"PROCLOOP" + name.substr(8), name + ".exe"})
        EXPECT_EQ(whom({"--name", other}).err, "error: no process named " + other + "\n");
    for (const pid_t root : roots) killTree(root);
}

// The shell of the parent starts the child, then becomes the parent.
INSTANTIATE_TEST_SUITE_P(Processes, Name,
                         ::testing::Values(NameCase{"None", {}, 0}, NameCase{"One", {"exec \"$COPY\" 60"}, 1},
                                           NameCase{"ParentAndChild", {"\"$COPY\" 60 & exec \"$COPY\" 60"}, 2},
                                           NameCase{"Two", {"exec \"$COPY\" 60", "exec \"$COPY\" 60"}, 2}),
                         [](const auto& info) { return std::string(info.param.label); });

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
    const PrivateComponent server("x-server", c.xResource ? std::vector<std::string>{}
                                                          : std::vector<std::string>{"-extension", "X-Resource"});
    xcb_connection_t* x = xcb_connect(server.ready.c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(x), 0) << server.ready;
    const unsigned long long hwnd = mapWindow(x, c.netWmPid) + c.offset;
    const ChildResult r = whom({"--hwnd", std::to_string(hwnd)}, server.env);
    xcb_disconnect(x);
    EXPECT_EQ(r.exitCode, 1);
    char unresolved[96];
    std::snprintf(unresolved, sizeof unresolved, "error: could not resolve HWND %016llX to a process id\n", hwnd);
    EXPECT_EQ(r.err, c.owner == kNone ? unresolved : found(c.owner == kUs ? ::getpid() : c.owner));
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
