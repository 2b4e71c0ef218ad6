// The capture loop's ways through and out, run for real against the fake service.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/stop_signal.h"
#include "child_process.h"
#include "run_harness.h"

namespace {

using fakeaudio::Call;
using fakeaudio::Packet;
using fakeaudio::patternBytes;
using Clock = std::chrono::steady_clock;

constexpr const char* kEndOfScript = "warn: GetNextPacketSize hr=0x88890004\n";

class CaptureStream : public RunTest, public ::testing::WithParamInterface<unsigned> {};

// Bursts of several packets; silent and null ones among them become zeros,
// every other flag leaves the data as it is. The pattern's bytes include 0x0A,
// 0x0D and 0x1A, which a text-mode stream would alter. The output takes less
// than a large packet per write, cut mid-sample, and the rest must follow.
TEST_P(CaptureStream, EveryPacketReachesTheOutputInOrderByteForByte) {
    const unsigned channels = GetParam();
    const std::vector<std::vector<Packet>> bursts = {
        {{480, 0, false}, {7, 0, false}, {1, 0, false}},
        {{480, AUDCLNT_BUFFERFLAGS_SILENT, false}},
        {{100, 0, false}, {3, 0, true}, {5, 0, false}},
        {{2, AUDCLNT_BUFFERFLAGS_SILENT | AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY, true}},
        {{33, AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY, false}},
        {{9, AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR, false}, {6, 0, false}},
    };
    fakeaudio::load(scriptOf(bursts));
    fakeplatform::controls().maxBytesPerCall = 1001;
    const std::string ch = std::to_string(channels);
    const RunResult r = run({"--pid", "1234", "--channels", ch.c_str()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead(1234, false, channels) + kEndOfScript + kStopped);

    std::vector<unsigned char> expected;
    std::uint64_t offset = 0;
    for (const auto& burst : bursts) {
        for (const Packet& p : burst) {
            const std::size_t size = std::size_t{p.frames} * channels * 4;
            const bool silent = p.nullData || (p.flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
            const std::vector<unsigned char> bytes = silent ? std::vector<unsigned char>(size, 0) : patternBytes(offset, size);
            expected.insert(expected.end(), bytes.begin(), bytes.end());
            offset += size;
        }
    }
    EXPECT_EQ(r.out, expected);
}

INSTANTIATE_TEST_SUITE_P(Channels, CaptureStream, ::testing::Values(1u, 2u, 8u));

struct WayOut {
    const char* name;
    void (*setUp)(fakeaudio::Script&, fakeplatform::Controls&);
    const char* tail;        // standard error between the head and the last line
    std::size_t outBytes;    // what reached the output
    unsigned getBuffers;
    unsigned releases;
};
void PrintTo(const WayOut& c, std::ostream* os) { *os << c.name; }

class CaptureEnd : public RunTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(CaptureEnd, LeavesWithItsLineAndReleasesEveryPacketTaken) {
    const WayOut& c = GetParam();
    fakeaudio::Script script = scriptOf({{{10, 0, false}, {20, 0, false}}, {{30, 0, false}}});
    c.setUp(script, fakeplatform::controls());
    fakeaudio::load(script);
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead() + c.tail + kStopped);
    EXPECT_EQ(r.out, patternBytes(0, c.outBytes));
    EXPECT_EQ(r.stats[Call::GetBuffer], c.getBuffers);
    EXPECT_EQ(r.stats[Call::ReleaseBuffer], c.releases);
    EXPECT_EQ(r.liveObjects, 0u);
    EXPECT_EQ(r.openEvents, 0);
    EXPECT_EQ(r.comDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    All, CaptureEnd,
    ::testing::Values(
        WayOut{"NextPacketSizeFailsAfterAWakeUp",
               [](fakeaudio::Script& s, fakeplatform::Controls&) { s.fail(Call::GetNextPacketSize, AUDCLNT_E_DEVICE_INVALIDATED); },
               kEndOfScript, 0, 0, 0},
        WayOut{"NextPacketSizeFailsWhileDraining",
               [](fakeaudio::Script& s, fakeplatform::Controls&) { s.fail(Call::GetNextPacketSize, AUDCLNT_E_SERVICE_NOT_RUNNING, 2); },
               "", 80, 1, 1},
        WayOut{"GetBufferFails",
               [](fakeaudio::Script& s, fakeplatform::Controls&) { s.fail(Call::GetBuffer, AUDCLNT_E_BUFFER_ERROR, 2); },
               "warn: GetBuffer hr=0x88890018\n", 80, 2, 1},
        WayOut{"AFailingReleaseIsNotLookedAt",
               [](fakeaudio::Script& s, fakeplatform::Controls&) { s.fail(Call::ReleaseBuffer, AUDCLNT_E_INVALID_SIZE); },
               kEndOfScript, 480, 3, 3},
        // The second packet breaks off mid-frame; it is still released.
        WayOut{"TheOutputFails", [](fakeaudio::Script&, fakeplatform::Controls& c) { c.failAfterBytes = 80 + 12; }, "", 92, 2, 2},
        WayOut{"TheWaitFails",  // the first wait is the activation's
               [](fakeaudio::Script&, fakeplatform::Controls& c) {
                   c.onWait = [](unsigned nth, DWORD) { return nth == 2 ? std::optional<DWORD>(WAIT_FAILED) : std::nullopt; };
               },
               "error: WaitForSingleObject failed\n", 0, 0, 0},
        // A silent target sends nothing for as long as it is silent: a pause longer than a wait is no end.
        WayOut{"APauseLongerThanAWaitIsNoEnd", [](fakeaudio::Script& s, fakeplatform::Controls&) { s.periodMs = 400; },
               kEndOfScript, 480, 3, 3},
        WayOut{"AStopRequestedDuringSetUp", [](fakeaudio::Script&, fakeplatform::Controls&) { stopRequested.store(true); }, "", 0,
               0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Each console event that stops the program, landing while the loop waits
// with no audio coming, ends the capture within one wait.
class CaptureStop : public RunTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(CaptureStop, ARequestDuringAQuietWaitEndsTheCaptureWithinTheWaitBound) {
    fakeaudio::Script script = scriptOf({{{4, 0, false}}});
    script.end = fakeaudio::End::Idle;
    fakeaudio::load(script);
    Clock::time_point stoppedAt{};
    unsigned raisedAt = 0;
    bool taken = false;
    fakeplatform::controls().onWait = [&](unsigned nth, DWORD) -> std::optional<DWORD> {
        if (raisedAt == 0 && fakeaudio::stats()[Call::ReleaseBuffer] == 1) {
            raisedAt = nth;
            taken = fakeplatform::raiseConsoleControl(GetParam());
            stoppedAt = Clock::now();
        }
        if (raisedAt != 0 && nth > raisedAt + 10) stopRequested.store(true);  // a stop ignored fails, not hangs
        return std::nullopt;
    };
    const RunResult r = run({"--pid", "1234"});
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stoppedAt);
    EXPECT_TRUE(taken);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead() + kStopped);
    EXPECT_EQ(r.out, patternBytes(0, 32));
    // The loop waits at most 150 ms at a time; generous for a loaded machine.
    EXPECT_LT(latency.count(), 1000);
}

INSTANTIATE_TEST_SUITE_P(Events, CaptureStop,
                         ::testing::Values(CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT,
                                           CTRL_SHUTDOWN_EVENT));

class Capture : public RunTest {};

TEST_F(Capture, AStopDuringAWaitThatEndsSignalledWritesNothingMore) {
    // Bursts 200 ms apart, so the first drain cannot run into the second burst.
    fakeaudio::Script script = scriptOf({{{4, 0, false}}, {{8, 0, false}}});
    script.end = fakeaudio::End::Idle;
    script.periodMs = 200;
    fakeaudio::load(script);
    fakeplatform::controls().onWait = [](unsigned, DWORD) -> std::optional<DWORD> {
        if (!stopRequested.load() && fakeaudio::stats()[Call::ReleaseBuffer] == 1) {
            fakeplatform::raiseConsoleControl(CTRL_C_EVENT);
            // The next burst is queued and signalled meanwhile, so this wait ends at once, signalled.
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        return std::nullopt;
    };
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(fakeplatform::controls().lastWaitResult, WAIT_OBJECT_0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead() + kStopped);
    EXPECT_EQ(r.out, patternBytes(0, 32));
    EXPECT_EQ(r.stats[Call::GetBuffer], 1u);
}

}  // namespace
