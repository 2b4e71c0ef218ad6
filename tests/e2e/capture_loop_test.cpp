// The capture loop's ways through and out, run for real against the fake service.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/stop_signal.h"
#include "child_process.h"
#include "run_harness.h"

namespace {

using fakeaudio::Call;
using fakeaudio::patternBytes;
using Clock = std::chrono::steady_clock;

constexpr const char* kEndOfScript = "warn: GetNextPacketSize hr=0x88890004\n";
// One packet of 4 frames, then a target that plays nothing.
const std::string kQuiet = "end=tone;burst=4;silence=0:600000";

// The pattern with every silent and null packet as zeros, as it should reach the
// output from the script's bursts at `channels`, up to `bytes`.
std::vector<unsigned char> streamOf(const fakeaudio::Script& script, unsigned channels, std::size_t bytes) {
    std::vector<unsigned char> expected;
    std::uint64_t offset = 0;
    for (const auto& burst : script.bursts) {
        for (const fakeaudio::Packet& p : burst) {
            const std::size_t size = std::size_t{p.frames} * channels * 4;
            const bool silent = p.nullData || (p.flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
            const std::vector<unsigned char> packet = silent ? std::vector<unsigned char>(size, 0) : patternBytes(offset, size);
            expected.insert(expected.end(), packet.begin(), packet.end());
            offset += size;
        }
    }
    expected.resize(std::min(bytes, expected.size()));
    return expected;
}

struct WayOut {
    const char* name;
    std::string script;
    const char* tail;      // standard error between the head and the last line
    std::size_t outBytes;  // what reached the output (SIZE_MAX: all of it)
    unsigned getBuffers;
    unsigned releases;
    unsigned channels = 2;
    bool stopFirst = false;  // a stop requested before the run
    int event = -1;          // a console event raised in the first wait after the first release (-1: none)
    bool signalled = false;  // ... with the next burst queued and signalled, so that wait ends at once
};
void PrintTo(const WayOut& c, std::ostream* os) { *os << c.name; }

class CaptureEnd : public RunTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(CaptureEnd, LeavesWithItsLineAndReleasesEveryPacketTaken) {
    const WayOut& c = GetParam();
    const fakeaudio::Script script = loadScript(kQuick + c.script);
    stopRequested.store(c.stopFirst);
    Clock::time_point stoppedAt{};
    unsigned raisedAt = 0;
    bool taken = false;
    fakeplatform::controls().onWait = [&](unsigned nth, DWORD) {
        if (c.event >= 0 && raisedAt == 0 && fakeaudio::stats()[Call::ReleaseBuffer] == 1) {
            raisedAt = nth;
            taken = fakeplatform::raiseConsoleControl(static_cast<DWORD>(c.event));
            stoppedAt = Clock::now();
            if (c.signalled) std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        if (raisedAt != 0 && nth > raisedAt + 10) stopRequested.store(true);  // a stop ignored fails, not hangs
    };
    const std::string channels = std::to_string(c.channels);
    const RunResult r = run({"--pid", "1234", "--channels", channels.c_str()});
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stoppedAt);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead(1234, false, c.channels) + c.tail + kStopped);
    EXPECT_EQ(r.out, streamOf(script, c.channels, c.outBytes));
    EXPECT_EQ(r.stats[Call::GetBuffer], c.getBuffers);
    EXPECT_EQ(r.stats[Call::ReleaseBuffer], c.releases);
    EXPECT_EQ(taken, c.event >= 0);
    EXPECT_TRUE(!c.signalled || fakeplatform::controls().lastWaitResult == WAIT_OBJECT_0) << "the wait did not end signalled";
    // The loop waits at most 150 ms at a time; generous for a loaded machine.
    EXPECT_LT(c.event >= 0 ? latency.count() : 0, 1000);
}

// Bursts of several packets; silent and null ones among them become zeros,
// every other flag leaves the data as it is. The pattern's bytes include 0x0A,
// 0x0D and 0x1A, which a text-mode stream would alter. The output takes less
// than a large packet per write, cut mid-sample, and the rest must follow.
// Each console event that stops the program, landing while the loop waits with
// no audio coming, ends the capture within one wait; landing just before a wait
// that ends signalled, with audio waiting (bursts 200 ms apart, so the first
// drain cannot run into the second), it lets nothing more be written.
const std::string kStream = "write=1001;burst=480,7,1;burst=480s;burst=100,3n,5;burst=2sdn;burst=33d;burst=9t,6";
const std::string kThree = "burst=10,20;burst=30;";  // packets of 10, 20 and 30 frames
INSTANTIATE_TEST_SUITE_P(
    All, CaptureEnd,
    ::testing::Values(WayOut{"EveryPacketInOrderByteForByteAt1Channel", kStream, kEndOfScript, SIZE_MAX, 11, 11, 1},
                      WayOut{"EveryPacketInOrderByteForByteAt2Channels", kStream, kEndOfScript, SIZE_MAX, 11, 11, 2},
                      WayOut{"EveryPacketInOrderByteForByteAt8Channels", kStream, kEndOfScript, SIZE_MAX, 11, 11, 8},
                      WayOut{"NextPacketSizeFailsAfterAWakeUp", kThree + "fail=GetNextPacketSize:88890004", kEndOfScript, 0, 0, 0},
                      WayOut{"NextPacketSizeFailsWhileDraining", kThree + "fail=GetNextPacketSize:88890010@2", "", 80, 1, 1},
                      WayOut{"GetBufferFails", kThree + "fail=GetBuffer:88890018@2", "warn: GetBuffer hr=0x88890018\n", 80, 2, 1},
                      WayOut{"AFailingReleaseIsNotLookedAt", kThree + "fail=ReleaseBuffer:88890011", kEndOfScript, 480, 3, 3},
                      // The second packet breaks off mid-frame; it is still released.
                      WayOut{"TheOutputFails", kThree + "output=92", "", 92, 2, 2},
                      // The first wait is the activation's.
                      WayOut{"TheWaitFails", kThree + "wait=2", "error: WaitForSingleObject failed\n", 0, 0, 0},
                      // A silent target sends nothing for as long as it is silent: a pause longer than a wait is no end.
                      WayOut{"APauseLongerThanAWaitIsNoEnd", kThree + "period=400", kEndOfScript, 480, 3, 3},
                      WayOut{"AStopRequestedDuringSetUp", kThree, "", 0, 0, 0, 2, true},
                      WayOut{"CtrlC", kQuiet, "", 32, 1, 1, 2, false, CTRL_C_EVENT},
                      WayOut{"CtrlBreak", kQuiet, "", 32, 1, 1, 2, false, CTRL_BREAK_EVENT},
                      WayOut{"Close", kQuiet, "", 32, 1, 1, 2, false, CTRL_CLOSE_EVENT},
                      WayOut{"Logoff", kQuiet, "", 32, 1, 1, 2, false, CTRL_LOGOFF_EVENT},
                      WayOut{"Shutdown", kQuiet, "", 32, 1, 1, 2, false, CTRL_SHUTDOWN_EVENT},
                      WayOut{"CtrlCBeforeASignalledWait", kQuiet + ";period=200;burst=8", "", 32, 1, 1, 2, false, CTRL_C_EVENT, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
