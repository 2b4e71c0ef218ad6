// --list against real servers: each process that plays, its state and the
// root of its tree; and no server at all.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "pulse_fixture.h"

namespace {

ChildResult list(const Environment& env) {
    ChildOptions options;
    options.argv = {PROCLOOP_HOST_BINARY, "--list"};
    options.env = env;
    options.timeoutMs = 20000;
    return runChild(options);
}

std::string row(pid_t pid, const char* state, pid_t root) {
    return std::to_string(pid) + "\t" + state + "\ttone_player\t" + std::to_string(root) + "\n";
}

using PulseList = PulseTest;

// A child plays for its parent (both tone_player: the parent is the root); a
// second player pauses its stream soon after it starts.
TEST_P(PulseList, ShowsEachPlayingProcessWithItsStateAndRoot) {
    Player parent(server(), {"--freq", "440", "--fork"});
    Player paused(server(), {"--freq", "660", "--cork-after", "300", "--cork-for", "600000"});
    parent.waitStreams();
    paused.waitStreams();
    const std::string id = std::to_string(parent.pid());
    pid_t child = 0;
    std::ifstream("/proc/" + id + "/task/" + id + "/children") >> child;
    ASSERT_NE(child, 0);
    const std::string rows = child < paused.pid()
                                 ? row(child, "active", parent.pid()) + row(paused.pid(), "inactive", paused.pid())
                                 : row(paused.pid(), "inactive", paused.pid()) + row(child, "active", parent.pid());
    const std::string expected = "pid\tstate\texecutable\troot\n" + rows;
    // The pause reaches the server shortly after the stream started.
    ChildResult r;
    for (int i = 0; i < 100; ++i) {
        r = list(server().env());
        if (std::string(r.out.begin(), r.out.end()) == expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(std::string(r.out.begin(), r.out.end()), expected) << server().pactl({"list", "sink-inputs"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseList, ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         serverName);

TEST(PulseListing, NoServerFailsTheEnumeration) {
    const ChildResult r = list({{"PULSE_SERVER", "unix:/nonexistent/procloop-test/native"}});
    EXPECT_EQ(r.err, "error: IMMDeviceEnumerator::EnumAudioEndpoints hr=0x88890010\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
}

}  // namespace
