// The stream against the fake service's own clock: a target that falls silent,
// a reader that stalls, a run of fixed length.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/stop_signal.h"
#include "run_harness.h"
#include "tone.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kRate = 48000;

struct Timed {
    const char* name;
    std::vector<const char*> args;
    const char* script;
    unsigned stopAtMs;                       // Ctrl+C then (0: the run ends by itself)
    unsigned stallAtMs, stallForMs, stalls;  // the reader stops reading for a while, `stalls` times, as often
    std::uint64_t frames;                    // exactly this many (0: as many as the time since the start holds)
    unsigned behindMs;                       // how far the output's end is behind the stop
    unsigned lateMs = 0;                     // of late audio whose time was filled already, lost besides the dropped
};
void PrintTo(const Timed& c, std::ostream* os) { *os << c.name; }

class Continuous : public RunTest, public ::testing::WithParamInterface<Timed> {};

TEST_P(Continuous, EveryFrameIsTheToneAtItsTimeOrSilence) {
    const Timed& c = GetParam();
    const fakeaudio::Script script = loadScript(c.script);
    const Clock::time_point begun = Clock::now();
    Clock::time_point stopped{};
    unsigned stalled = 0;
    fakeplatform::controls().onWait = [&](unsigned, DWORD) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
        if (stalled < c.stalls && ms >= c.stallAtMs + 2 * stalled * c.stallForMs) {
            ++stalled;
            std::this_thread::sleep_for(std::chrono::milliseconds(c.stallForMs));
        }
        if (c.stopAtMs != 0 && ms >= c.stopAtMs && !stopRequested.exchange(true)) stopped = Clock::now();
    };
    std::vector<const char*> args{"--pid", "1234", "--include-child-processes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = run(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const bool continuous = std::strcmp(c.args.back(), "--continuous") == 0;
    const std::uint64_t frames = r.out.size() / 8;
    // As delivered, the tone jumps ahead by the whole packets dropped; locked to the clock, zeros take their place.
    const ToneFrames f = toneFrames(r.out, script, !continuous);
    EXPECT_LT(f.lead, kRate / 100);
    EXPECT_EQ(f.wrong, 0u);
    EXPECT_LE(f.lost - (continuous ? r.stats.framesDropped : 0), c.lateMs * kRate / 1000);
    EXPECT_EQ(f.shift, continuous ? 0 : r.stats.framesDropped);
    EXPECT_TRUE(c.stallForMs <= 200 || r.stats.framesDropped > 0);  // the service's buffer holds 200 ms
    if (c.frames != 0) {
        EXPECT_EQ(frames, c.frames);
    } else {
        // Within a period, the first packet's latency and a loaded machine's delays of the time the run
        // lasted, less what was dropped.
        const auto ran = std::chrono::duration_cast<std::chrono::microseconds>(stopped - begun).count() - c.behindMs * 1000;
        const auto expected = static_cast<double>(ran) * kRate / 1e6 - (continuous ? 0.0 : r.stats.framesDropped);
        EXPECT_NEAR(static_cast<double>(frames), expected, 0.1 * kRate);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Continuous,
    ::testing::Values(Timed{"TwoSecondSilence", {"--continuous"}, "silence=1000:2000", 4000, 0, 0, 0, 0, 0},
                      // Zeros are written a fill lag and at most a wake-up late: 100 to 150 ms.
                      Timed{"StopInASilence", {"--continuous"}, "silence=500:5000", 2000, 0, 0, 0, 0, 125},
                      Timed{"StalledReader", {"--continuous"}, "", 2500, 1000, 600, 1, 0, 0},
                      Timed{"SlowReaderCatchesUp", {"--continuous"}, "", 2500, 300, 150, 5, 0, 0},
                      // Handed over 400 ms late: what is older than the fill lag by then is zeros, and stays so.
                      Timed{"LatePacketsFindTheirTimeFilled", {"--continuous"}, "late=1000:400", 2500, 0, 0, 0, 0, 0, 400},
                      Timed{"StalledReaderAsDelivered", {"--channels", "2"}, "", 2500, 1000, 600, 1, 0, 0},
                      Timed{"DurationPadsASilentEnd", {"--duration", "2", "--continuous"}, "silence=1500:1000", 0, 0, 0, 0,
                            2 * kRate, 0},
                      Timed{"DurationCutsTheLastPacket", {"--duration", "1", "--continuous"}, "period=7", 0, 0, 0, 0, kRate, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
