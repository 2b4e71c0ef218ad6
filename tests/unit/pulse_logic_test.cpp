// The Linux audio service's own logic. Its /proc reader: a stat line's parent
// and start time whatever the command name holds, and process trees that a
// reused pid cannot enter. Its two buffers, driven step by step: a captured
// stream's FIFO (start level, running dry, play-out, overflow, trimming, mixing)
// and the packet ring (the 200 ms buffer, what a slow reader loses and how it is told).
#include <cstdint>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/pulse/packet_ring.h"
#include "platform/pulse/proc_tree.h"
#include "platform/pulse/stream_fifo.h"

namespace {

// A stat line of pid 77: the command name, state, parent, 17 fields, the start time.
std::string stat(const std::string& comm, const char* ppid, const char* start) {
    return "77 (" + comm + ") S " + ppid + " 1 1 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0 " + start + " 1000 200\n";
}

// The line, whether it parses, the parent and the start time read from it.
class ParseStat : public testing::TestWithParam<std::tuple<std::string, bool, std::uint32_t, std::uint64_t>> {};

TEST_P(ParseStat, ReadsParentAndStartAfterTheLastParenthesis) {
    const auto& [text, ok, ppid, start] = GetParam();
    pulse::ProcStat out;
    ASSERT_EQ(pulse::parseStat(text.data(), text.size(), 77, out), ok);
    EXPECT_TRUE(!ok || (out.pid == 77u && out.ppid == ppid && out.startTime == start))
        << out.pid << " " << out.ppid << " " << out.startTime;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseStat,
    testing::Values(std::tuple(stat("player", "12", "987654"), true, 12u, 987654ull),
                    // A command name may hold spaces, ')', '(', digits and line ends.
                    std::tuple(stat("a) b", "4321", "18446744073709551615"), true, 4321u, 18446744073709551615ull),
                    std::tuple(stat("a) 5 S 9 (x", "7", "8"), true, 7u, 8ull),
                    std::tuple(stat("a\nb", "3", "5"), true, 3u, 5ull),
                    std::tuple(stat("player", "12", "55").substr(0, 30), false, 0u, 0ull),  // cut short
                    std::tuple(std::string("77 player S 12"), false, 0u, 0ull)));

// The target, its start time (0: never seen), and the tree found.
class ProcessTree
    : public testing::TestWithParam<std::tuple<std::uint32_t, std::uint64_t, std::vector<std::uint32_t>>> {};

TEST_P(ProcessTree, FollowsParentsForward) {
    // 10 started at 100: children 11 and 12, grandchild 13 under 11. 14 names 10
    // as parent but started before it: a reused pid's leftover. 21 is 20's child.
    const std::vector<pulse::ProcStat> all = {{1, 0, 1},     {10, 1, 100}, {11, 10, 110}, {12, 10, 120},
                                              {13, 11, 130}, {14, 10, 90}, {20, 1, 50},   {21, 20, 60}};
    EXPECT_EQ(pulse::processTree(all, std::get<0>(GetParam()), std::get<1>(GetParam())), std::get<2>(GetParam()));
}

using Tree = std::vector<std::uint32_t>;
INSTANTIATE_TEST_SUITE_P(Trees, ProcessTree,
                         testing::Values(std::tuple(10u, 100ull, Tree{10, 11, 12, 13}), std::tuple(13u, 130ull, Tree{13}),
                                         std::tuple(10u, 99ull, Tree{}),  // the pid was taken over since activation
                                         std::tuple(20u, 0ull, Tree{20, 21}), std::tuple(30u, 0ull, Tree{30})));

// FIFO: '+' pushes `n` frames counting up from `v` (a sample each), '0' a hole
// of `n` frames; 'F' finishes, 'S' stalls; '>' takes a period into a buffer of
// `v`s and expects `out` (empty: not ready); '?' expects ready(), 'P'
// playingOut(), '#' frames() to be `n` (a bool as 0 or 1).
// Ring: 'c' claims and commits a packet of `v`s, 'x' finds no slot to claim,
// 'h' hands the front to the reader, 'u' takes it back, 'p' pops it; '=' expects
// the front to hold `v` with flags `n`, 'q' queuedFrames() to be `n`.
struct Step {
    char op;
    float v;
    std::uint32_t n;
    std::vector<float> out = {};
};

struct Case {
    const char* name;
    std::uint32_t size, channels;  // FIFO: capacity in frames; ring: packets of 2 frames
    std::vector<Step> steps;
};

constexpr std::uint32_t kPeriod = 4;  // frames

class Buffer : public testing::TestWithParam<Case> {};

// Each case drives one of the two; the other, reset alike, stays untouched.
TEST_P(Buffer, FollowsItsSteps) {
    const std::uint32_t channels = GetParam().channels;
    pulse::StreamFifo fifo;
    fifo.reset(GetParam().size, channels, kPeriod);
    pulse::PacketRing ring;
    ring.reset(GetParam().size, 2, channels);
    std::uint64_t position = 0;
    for (const Step& s : GetParam().steps) {
        SCOPED_TRACE(std::string(1, s.op) + " " + std::to_string(s.v) + " " + std::to_string(s.n));
        std::vector<float> ramp(s.n * channels), out;
        std::iota(ramp.begin(), ramp.end(), s.v);
        float* slot = s.op == 'c' || s.op == 'x' ? ring.claim() : nullptr;
        EXPECT_EQ(slot == nullptr, s.op != 'c');
        if (slot != nullptr) {
            std::fill(slot, slot + 2 * channels, s.v);
            ring.commit(pulse::PacketInfo{2, 0, position += 2, 0});
        }
        switch (s.op) {
            case '+': fifo.push(ramp.data(), s.n); break;
            case '0': fifo.push(nullptr, s.n); break;
            case 'F': fifo.finish(); break;
            case 'S': fifo.stall(); break;
            case '?': EXPECT_EQ(fifo.ready(), s.n != 0); break;
            case 'P': EXPECT_EQ(fifo.playingOut(), s.n != 0); break;
            case '#': EXPECT_EQ(fifo.frames(), s.n); break;
            case '>':
                if (fifo.ready()) {
                    out.assign(kPeriod * channels, s.v);
                    fifo.take(out.data());
                }
                EXPECT_EQ(out, s.out);
                break;
            case 'h': ring.hand(); break;
            case 'u': ring.unhand(); break;
            case 'p': ring.pop(); break;
            case 'q': EXPECT_EQ(ring.queuedFrames(), s.n); break;
            case '=':
                EXPECT_EQ(ring.frontData()[0], s.v);
                EXPECT_EQ(ring.frontData()[2 * channels - 1], s.v);
                EXPECT_EQ(ring.front().flags, s.n);  // 1: data discontinuity
        }
    }
}

// A stream starts playing once it holds its largest chunk plus two periods.
INSTANTIATE_TEST_SUITE_P(
    Steps, Buffer,
    testing::Values(
        Case{"StartsAtItsLevelMixesAndRunsDryIntoSilence", 64, 1,
             {{'+', 1, 4}, {'>', 0, 0}, {'+', 5, 4}, {'>', 0, 0}, {'+', 9, 4}, {'>', 0.5f, 0, {1.5f, 2.5f, 3.5f, 4.5f}},
              {'>', 0, 0, {5, 6, 7, 8}}, {'+', 13, 2}, {'>', 0, 0, {9, 10, 11, 12}}, {'>', 0, 0, {13, 14, 0, 0}},
              {'+', 20, 4}, {'>', 0, 0}}},
        Case{"EndedPlaysOutWhatItHoldsHolesAsSilence", 64, 1,
             {{'+', 1, 3}, {'0', 0, 2}, {'+', 4, 1}, {'>', 0, 0}, {'F', 0, 0}, {'P', 0, 1}, {'>', 0, 0, {1, 2, 3, 0}},
              {'>', 0, 0, {0, 4, 0, 0}}, {'P', 0, 0}, {'>', 0, 0}, {'+', 9, 4}, {'>', 0, 0, {9, 10, 11, 12}}}},
        Case{"PausedPlaysOutAndWaitsForTheLevelOnResuming", 64, 1,
             {{'+', 1, 3}, {'0', 0, 2}, {'+', 4, 1}, {'>', 0, 0}, {'S', 0, 0}, {'P', 0, 1}, {'>', 0, 0, {1, 2, 3, 0}},
              {'>', 0, 0, {0, 4, 0, 0}}, {'P', 0, 0}, {'+', 9, 4}, {'>', 0, 0}}},
        // 21 stereo frames into 16: frames 0..4 are lost, frame 5 holds 11 and 12.
        Case{"OverfullKeepsTheNewest", 16, 2,
             {{'+', 1, 3}, {'+', 7, 3}, {'+', 13, 3}, {'+', 19, 3}, {'+', 25, 3}, {'+', 31, 3}, {'+', 37, 3},
              {'#', 0, 16}, {'>', 0, 0, {11, 12, 13, 14, 15, 16, 17, 18}}}},
        // Level 20 + 2 * 4 = 28; held beyond it by more than 4 periods, the oldest go.
        Case{"TrimsBackToItsLevelWhenFarAboveIt", 100, 1,
             {{'+', 0, 2}, {'+', 2, 20}, {'?', 0, 0}, {'+', 22, 20}, {'?', 0, 1}, {'#', 0, 42}, {'+', 42, 8},
              {'?', 0, 1}, {'#', 0, 28}, {'>', 0, 0, {22, 23, 24, 25}}}},
        Case{"ASlowReaderLosesTheOldestAndTheNextPacketSaysSo", 3, 2,
             {{'c', 0, 0}, {'c', 1, 0}, {'c', 2, 0}, {'c', 3, 0}, {'c', 4, 0}, {'q', 0, 6}, {'=', 2, 1}, {'p', 0, 0},
              {'=', 3, 0}, {'p', 0, 0}, {'=', 4, 0}}},
        // Full, and the oldest is being read: the new packet is lost instead.
        Case{"APacketInTheReadersHandsIsNeverOverwritten", 2, 1,
             {{'c', 0, 0}, {'c', 1, 0}, {'h', 0, 0}, {'x', 0, 0}, {'=', 0, 0}, {'u', 0, 0}, {'p', 0, 0}, {'c', 7, 0},
              {'=', 1, 0}, {'p', 0, 0}, {'=', 7, 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
