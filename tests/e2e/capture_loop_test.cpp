// The capture loop's ways through and out, on the fake backend: the stream
// byte for byte, and every way it ends.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

using testsignals::patternBytes;

// The pattern with every silent packet as zeros, as it should reach the output
// from the script's bursts at `channels`, up to `bytes`.
std::vector<unsigned char> streamOf(const std::string& text, unsigned channels, std::size_t bytes) {
    fakebackend::Script script;
    EXPECT_TRUE(fakebackend::parseScript(text, script));
    std::vector<unsigned char> expected;
    std::uint64_t offset = 0;
    for (const auto& burst : script.bursts) {
        for (const fakebackend::Packet& p : burst) {
            const std::size_t size = std::size_t{p.frames} * channels * 4;
            const bool silent = (p.flags & CapturedPacket::kSilent) != 0;
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
    std::string tail;       // standard error between the head and the last line
    std::size_t outBytes;   // what reached the output (SIZE_MAX: all of it)
    unsigned channels = 2;
    std::vector<const char*> args = {};
    bool stopFirst = false;  // a stop requested before the run
    unsigned stopAtWait = 0;  // a stop requested as that wait begins (0: none)
    std::size_t readUpTo = SIZE_MAX;
};
void PrintTo(const WayOut& c, std::ostream* os) { *os << c.name; }

class CaptureEnd : public RunTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(CaptureEnd, LeavesWithItsLineAfterWritingWhatItShould) {
    const WayOut& c = GetParam();
    stopRequested.store(c.stopFirst);
    RunControls controls;
    controls.readUpTo = c.readUpTo;
    controls.onWait = [&c](unsigned nth, std::uint32_t ms) {
        EXPECT_LE(ms, 150u) << "a stop must not go unnoticed for longer";
        if (nth == c.stopAtWait) stopRequested.store(true);
        if (nth > 100000) stopRequested.store(true);  // a run that never ends fails, not hangs
    };
    const std::string channels = std::to_string(c.channels);
    std::vector<const char*> args = {"--pid", "1234", "--channels", channels.c_str()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = run(args, c.script, controls);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead(1234, false, c.channels) + c.tail + kStopped);
    EXPECT_EQ(r.out, streamOf(c.script, c.channels, c.outBytes));
    EXPECT_LT(r.record.waits, 100000u);
}

constexpr const char* kLost = "warn: fake stream lost\n";
// Bursts of several packets; silent ones become zeros, every other flag leaves the
// data as it is. The pattern's bytes include 0x0A, 0x0D and 0x1A, which a text-mode
// stream would alter, and values a clamp would.
const std::string kStream = "burst=480,7,1;burst=480s;burst=100,3s,5;burst=2sd;burst=33d;burst=9t,6;burst=0,0s";
const std::string kThree = "burst=10,20;burst=30;";  // packets of 10, 20 and 30 frames: 80 and 160 bytes, then 240
INSTANTIATE_TEST_SUITE_P(
    All, CaptureEnd,
    ::testing::Values(WayOut{"EveryPacketInOrderByteForByteAt1Channel", kStream, kLost, SIZE_MAX, 1},
                      WayOut{"EveryPacketInOrderByteForByteAt2Channels", kStream, kLost, SIZE_MAX, 2},
                      WayOut{"EveryPacketInOrderByteForByteAt8Channels", kStream, kLost, SIZE_MAX, 8},
                      // A silent target sends nothing for as long as it is silent: a pause longer than a wait is no end.
                      WayOut{"APauseLongerThanAWaitIsNoEnd", kThree + "period=400", kLost, SIZE_MAX},
                      // The reader goes away mid-packet: nothing more, no line.
                      WayOut{"TheReaderGoesAway", kThree + "end=tone", "", 92, 2, {}, false, 0, 92},
                      WayOut{"AStopRequestedDuringSetUp", kThree, "", 0, 2, {}, true},
                      // A stop that lands as a wait begins lets nothing more through, however much is waiting.
                      WayOut{"AStopDuringAWait", kThree + "period=200", "", 240, 2, {}, false, 3},
                      WayOut{"TheTargetExits", kThree + "end=quiet;period=100;exit=250", "info: target process exited\n",
                             SIZE_MAX, 2, {"--stop-with-target"}},
                      // An exit is news only for a run that ends with its target.
                      WayOut{"AnExitUnwatched", kThree + "end=lost;period=100;exit=150", kLost, SIZE_MAX},
                      // The duration counts on the stream's clock from the loop's start: two bursts in 250 ms.
                      WayOut{"Duration", kThree + "end=quiet;period=200", "", SIZE_MAX, 2, {"--duration", "1"}},
                      WayOut{"DurationBeforeTheSecondBurst", "period=600;" + kThree + "end=quiet", "", 240, 2,
                             {"--duration", "1"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
