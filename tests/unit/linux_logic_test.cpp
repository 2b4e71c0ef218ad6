// The Linux backend's plain logic, as tables: the /proc stat reader and the
// process trees a reused pid cannot enter; whose a stream is and whether it is
// taken; a stream's FIFO; and the mixer, driven step by step on its own clock.
#include <cstdint>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "linux/mixer.h"
#include "linux/procfs.h"
#include "linux/selection.h"
#include "linux/stream_fifo.h"

namespace {

using linuxaudio::Mixer;
using linuxaudio::StreamFifo;

// A stat line: the pid, the command name, state, parent, 17 fields, the start time.
std::string stat(std::uint32_t pid, const std::string& comm, std::uint32_t ppid, std::uint64_t start) {
    const std::string fields = " 1 1 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0 ";
    return std::to_string(pid) + " (" + comm + ") S " + std::to_string(ppid) + fields + std::to_string(start) + " 1000 200\n";
}

// The target, its start time (0: never seen), and the tree found.
class ProcessTree
    : public testing::TestWithParam<std::tuple<std::uint32_t, std::uint64_t, std::vector<std::uint32_t>>> {};

TEST_P(ProcessTree, FollowsParentsForwardReadAfterTheLastParenthesis) {
    // 10 started at 100: children 11 and 12, grandchild 13 under 11. 14 names 10
    // as parent but started before it: a reused pid's leftover. 21 is 20's child.
    // A command name may hold spaces, ')', '(', digits and line ends; 15's line is
    // cut short and 16's has no parentheses, so neither is 10's child.
    const std::string lines[] = {stat(1, "init", 0, 1), stat(10, "a) b", 1, 100), stat(11, "a) 5 S 9 (x", 10, 110),
                                 stat(12, "a\nb", 10, 120), stat(13, "player", 11, 130), stat(14, "x", 10, 90),
                                 stat(15, "player", 10, 150).substr(0, 30), "16 player S 10", stat(20, "p", 1, 50),
                                 stat(21, "p", 20, 60), stat(22, "p", 1, 18446744073709551615ull)};
    std::vector<linuxaudio::ProcStat> all;
    for (const std::string& line : lines) {
        linuxaudio::ProcStat one;
        const auto pid = static_cast<std::uint32_t>(std::stoul(line));
        if (linuxaudio::parseStat(line.data(), line.size(), pid, one)) all.push_back(one);
    }
    EXPECT_EQ(linuxaudio::processTree(all, std::get<0>(GetParam()), std::get<1>(GetParam())), std::get<2>(GetParam()));
}

using Tree = std::vector<std::uint32_t>;
INSTANTIATE_TEST_SUITE_P(Trees, ProcessTree,
                         testing::Values(std::tuple(10u, 100ull, Tree{10, 11, 12, 13}), std::tuple(13u, 130ull, Tree{13}),
                                         std::tuple(10u, 99ull, Tree{}),  // the pid was taken over since the start
                                         std::tuple(20u, 0ull, Tree{20, 21}), std::tuple(30u, 0ull, Tree{30}),
                                         std::tuple(22u, 18446744073709551615ull, Tree{22})));

// What a stream and its client say, the bridge's pid, and whose the stream is;
// then whether the tree {10, 11} takes it in include and in exclude mode.
struct Owner {
    const char* name;
    const char* streamPid;  // as the properties hold it (null: absent)
    const char* clientPid;
    const char* clientSecPid;
    std::uint32_t bridgePid, owner;
    bool included, excluded;
};
class Selection : public testing::TestWithParam<Owner> {};

TEST_P(Selection, TakesTheServersWordOverTheClients) {
    const Owner& o = GetParam();
    linuxaudio::StreamFacts facts;
    facts.streamPid = linuxaudio::pidFromText(o.streamPid);
    facts.clientPid = linuxaudio::pidFromText(o.clientPid);
    facts.clientSecPid = linuxaudio::pidFromText(o.clientSecPid);
    facts.bridgePid = o.bridgePid;
    EXPECT_EQ(linuxaudio::ownerOf(facts), o.owner);
    EXPECT_EQ(linuxaudio::captured({10, 11}, true, o.owner), o.included);
    EXPECT_EQ(linuxaudio::captured({10, 11}, false, o.owner), o.excluded);
}

INSTANTIATE_TEST_SUITE_P(
    Owners, Selection,
    testing::Values(Owner{"PulseAudioStream", "11", "99", nullptr, 0, 11, true, false},
                    Owner{"PulseAudioClientOnly", nullptr, "10", nullptr, 0, 10, true, false},
                    Owner{"PipeWirePulseClientClaimsAnything", "10", "10", "500", 500, 10, true, false},
                    Owner{"NativeClientClaimingTheTarget", "10", "10", "77", 500, 77, false, true},
                    Owner{"NativeClientOfTheTree", nullptr, "3", "11", 500, 11, true, false},
                    Owner{"NobodySays", nullptr, nullptr, nullptr, 0, 0, false, true},
                    Owner{"NotANumber", "10x", "-1", " 7", 0, 0, false, true},
                    Owner{"BeyondThirtyTwoBits", "4294967296", "4294967295", nullptr, 0, 4294967295u, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Two streams a and b (one channel, capacity 8 frames) and the mixer at 400 Hz:
// packets of at most 4 frames (10 ms), positions from t = 1 s. Steps, times in ms after that:
// 'a'/'b' delivers `n` frames counting up from `v` ('A'/'B': a hole of `n`);
// 'e'/'E' ends a or b; 'm' mixes and expects `out` (empty: no packet), its
// position `n` in frames and flags `v`; 'w' expects the wake-up time `n` (-1: never);
// '#' expects a to hold `n` frames.
struct Step {
    char op;
    double t;
    float v;
    std::int64_t n;
    std::vector<float> out = {};
};
struct Steps {
    const char* name;
    std::vector<Step> steps;
};
class Mixing : public testing::TestWithParam<Steps> {};

TEST_P(Mixing, FollowsItsSteps) {
    constexpr std::uint64_t kStart = 1000000;
    StreamFifo a, b;
    a.reset(8, 1);
    b.reset(8, 1);
    StreamFifo* const inputs[] = {&a, &b};
    Mixer mixer;
    mixer.reset(400, 1, kStart);
    for (const Step& s : GetParam().steps) {
        SCOPED_TRACE(std::string(1, s.op) + " at " + std::to_string(s.t));
        const auto now = kStart + static_cast<std::uint64_t>(s.t * 1000);
        std::vector<float> ramp(s.op == 'a' || s.op == 'b' || s.op == 'A' || s.op == 'B' ? s.n : 0);
        std::iota(ramp.begin(), ramp.end(), s.v);
        CapturedPacket p;
        switch (s.op) {
            case 'a': case 'b': (s.op == 'a' ? a : b).push(ramp.data(), ramp.size(), now); break;
            case 'A': case 'B': (s.op == 'A' ? a : b).push(nullptr, ramp.size(), now); break;
            case 'e': a.finish(); break;
            case 'E': b.finish(); break;
            case '#': EXPECT_EQ(a.frames(), s.n); break;
            case 'w': {
                const std::uint64_t at = mixer.wakeAt(inputs, 2, now);
                EXPECT_EQ(at == Mixer::kNever ? -1 : static_cast<std::int64_t>(at - kStart) / 1000, s.n);
                break;
            }
            case 'm':
                if (!mixer.next(inputs, 2, now, p)) {
                    EXPECT_TRUE(s.out.empty());
                    break;
                }
                EXPECT_EQ(std::vector<float>(p.samples, p.samples + p.frames), s.out);
                EXPECT_EQ(p.time, (kStart + static_cast<std::uint64_t>(s.n) * 2500) * 10);
                EXPECT_EQ(p.flags, static_cast<std::uint32_t>(s.v));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Mixing,
    testing::Values(
        // Placed by the clock at first (its oldest frame came 10 ms ago), then one after another.
        Steps{"OneStreamPassesThroughAsDelivered",
              {{'m', 5, 0, 0}, {'w', 5, 0, -1}, {'a', 30, 1, 4}, {'m', 30, 0, 8, {1, 2, 3, 4}}, {'a', 41, 5, 6},
               {'m', 41, 0, 12, {5, 6, 7, 8}}, {'m', 41, 0, 16, {9, 10}}, {'m', 41, 0, 0}, {'w', 41, 0, -1},
               {'a', 50, 11, 2}, {'m', 50, 0, 18, {11, 12}}}},
        // A delivering stream that holds nothing holds the mix up, until it goes quiet for 30 ms.
        Steps{"StreamsWaitForEachOtherUntilOneGoesQuiet",
              {{'a', 10, 1, 4}, {'b', 10, 10, 4}, {'m', 10, 0, 0, {11, 13, 15, 17}}, {'a', 20, 5, 4}, {'m', 20, 0, 0},
               {'w', 20, 0, 40}, {'b', 22, 20, 2}, {'m', 22, 0, 4, {25, 27}}, {'m', 22, 0, 0}, {'a', 40, 9, 4},
               {'m', 40, 0, 0}, {'w', 40, 0, 52}, {'m', 52, 0, 6, {7, 8, 9, 10}}, {'m', 52, 0, 10, {11, 12}}}},
        // An ended stream holds nobody up; holes are silence.
        Steps{"AnEndedStreamHoldsNobodyUpHolesAreSilence",
              {{'a', 10, 1, 3}, {'A', 10, 0, 2}, {'a', 10, 4, 1}, {'b', 10, 7, 2}, {'m', 10, 0, 0, {8, 10}},
               {'m', 10, 0, 0}, {'E', 11, 0, 0}, {'m', 11, 0, 2, {3, 0, 0, 4}}, {'m', 11, 0, 0}, {'w', 11, 0, -1}}},
        // After a silence the position comes from the clock again; within 60 ms it goes on counting.
        Steps{"ASilenceIsSkippedByTheClock",
              {{'a', 10, 1, 4}, {'m', 10, 0, 0, {1, 2, 3, 4}}, {'a', 80, 1, 4}, {'m', 80, 0, 4, {1, 2, 3, 4}},
               {'a', 1000, 1, 4}, {'m', 1000, 0, 396, {1, 2, 3, 4}}}},
        // 12 frames into 8: the oldest 4 are lost, and the next packet says so.
        Steps{"OverfullKeepsTheNewestAndSaysSo",
              {{'a', 10, 1, 4}, {'m', 10, 0, 0, {1, 2, 3, 4}}, {'a', 15, 5, 6}, {'a', 15, 11, 6}, {'#', 15, 0, 8},
               {'m', 15, 2, 4, {9, 10, 11, 12}}, {'m', 15, 0, 8, {13, 14, 15, 16}}}},
        // Audio that came faster than the clock waits until it is less than a period ahead.
        Steps{"NeverAheadOfTheClock",
              {{'a', 10, 1, 8}, {'m', 10, 0, 0, {1, 2, 3, 4}}, {'m', 10, 0, 4, {5, 6, 7, 8}}, {'a', 11, 9, 8},
               {'m', 11, 0, 8, {9, 10, 11, 12}}, {'m', 11, 0, 0}, {'w', 11, 0, 20}, {'m', 20, 0, 12, {13, 14, 15, 16}}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
