// The stream against the fake backend's tone on its clock: a target that falls
// silent, a reader held up long enough to lose audio, packets handed over
// late, runs of fixed length. The clock is the fake's own, so every count is exact.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_harness.h"
#include "tone.h"

namespace {

constexpr std::uint64_t kRate = 48000;

struct Timed {
    const char* name;
    std::vector<const char*> args;
    std::string script;
    std::uint64_t frames;      // exactly this many
    std::uint64_t lostMs = 0;  // of late audio whose time was filled already
};
void PrintTo(const Timed& c, std::ostream* os) { *os << c.name; }

class Continuous : public RunTest, public ::testing::WithParamInterface<Timed> {};

TEST_P(Continuous, EveryFrameIsTheToneAtItsTimeOrSilence) {
    const Timed& c = GetParam();
    fakebackend::Script script;
    ASSERT_TRUE(fakebackend::parseScript(c.script, script));
    std::vector<const char*> args{"--pid", "1234", "--include-child-processes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = run(args, c.script);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const bool continuous = std::strcmp(c.args.back(), "--continuous") == 0;
    // As delivered, the tone jumps ahead by the whole packets dropped; locked to the clock, zeros take their place.
    const ToneFrames f = toneFrames(
        r.out, [&script](std::uint64_t ms) { return fakebackend::silentAt(script, ms); }, !continuous);
    EXPECT_EQ(f.lead, 0u);
    EXPECT_EQ(f.wrong, 0u);
    EXPECT_EQ(f.lost - (continuous ? r.record.framesDropped : 0), c.lostMs * kRate / 1000);
    EXPECT_EQ(f.shift, continuous ? 0 : r.record.framesDropped);
    EXPECT_EQ(r.out.size() / 8, c.frames);
}

// Held up for 600 ms, the program finds the 200 ms buffer full: the rest of the time, and the
// period it was about to take, is lost. The rows with this stall check what became of it.
constexpr std::uint64_t kDroppedByTheStall = (600 - 200 + 10) * kRate / 1000;
TEST_F(Continuous, AStallLongerThanTheBufferLosesAudio) {
    const RunResult r = run({"--pid", "1", "--duration", "3"}, "end=tone;stall=1000:600");
    EXPECT_EQ(r.record.framesDropped, kDroppedByTheStall);
}

// Ctrl+C writes what has arrived and stops, without padding: a stop found as a wait ends fills no more.
// Waits are 50 ms and zeros stand for time once it is 100 ms old: by the fourth wait, 100 ms of zeros.
TEST_F(Continuous, AStopWritesNoMoreZeros) {
    RunControls controls;
    controls.onWait = [](unsigned nth, std::uint32_t) { stopRequested.store(nth == 5); };
    const RunResult r = run({"--pid", "1", "--continuous"}, "end=quiet", controls);
    EXPECT_EQ(r.out, std::vector<unsigned char>(kRate / 10 * 8, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Continuous,
    ::testing::Values(Timed{"TwoSecondSilence", {"--duration", "4", "--continuous"}, "end=tone;silence=1000:2000", 4 * kRate},
                      // Packets flagged silent are zeros whatever data they point at, in their place or as delivered.
                      Timed{"Muted", {"--duration", "2", "--continuous"}, "end=tone;mute=500:300", 2 * kRate},
                      // A time the platform doubts is not taken: such packets go where they arrive.
                      Timed{"DoubtedTimesGoByArrival", {"--duration", "2", "--continuous"}, "end=tone;doubt=500:300", 2 * kRate},
                      Timed{"MutedAsDelivered", {"--duration", "2"}, "end=tone;mute=500:300", 2 * kRate},
                      Timed{"StalledReader", {"--duration", "3", "--continuous"}, "end=tone;stall=1000:600", 3 * kRate},
                      Timed{"SlowReaderCatchesUp", {"--duration", "3", "--continuous"},
                            "end=tone;stall=300:150;stall=600:150;stall=900:150;stall=1200:150", 3 * kRate},
                      // 400 ms handed over at once at its end: the 200 ms buffer kept the newest half. Of that,
                      // what was 100 ms old at the last fill (every 50 ms) is zeros by then, and stays so: 50 ms.
                      Timed{"LatePacketsFindTheirTimeFilled", {"--duration", "3", "--continuous"}, "end=tone;late=1000:400",
                            3 * kRate, 50},
                      // As delivered: 3 s of clock less the 400 ms dropped.
                      Timed{"StalledReaderAsDelivered", {"--duration", "3"}, "end=tone;stall=1000:600", 3 * kRate - kDroppedByTheStall},
                      Timed{"DurationPadsASilentEnd", {"--duration", "2", "--continuous"}, "end=tone;silence=1500:1000", 2 * kRate},
                      Timed{"DurationCutsTheLastPacket", {"--duration", "1", "--continuous"}, "end=tone;period=7", kRate}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
