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

// A stat line: the pid, the command name, state, parent, 17 fields, the start time.
std::string stat(std::uint32_t pid, const std::string& comm, std::uint32_t ppid, std::uint64_t start) {
    const std::string fields = " 1 1 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0 ";
    return std::to_string(pid) + " (" + comm + ") S " + std::to_string(ppid) + fields + std::to_string(start) + " 1000 200\n";
}

// The target, its start time (0: never seen), and the tree found.
class ProcessTree
    : public testing::TestWithParam<std::tuple<std::uint32_t, std::uint64_t, std::vector<std::uint32_t>>> {};

// The processes as the reader takes them in: the lines that parse, each under its pid.
TEST_P(ProcessTree, FollowsParentsForwardReadAfterTheLastParenthesis) {
    // 10 started at 100: children 11 and 12, grandchild 13 under 11. 14 names 10
    // as parent but started before it: a reused pid's leftover. 21 is 20's child.
    // A command name may hold spaces, ')', '(', digits and line ends; 15's line is
    // cut short and 16's has no parentheses, so neither is 10's child.
    const std::string lines[] = {stat(1, "init", 0, 1), stat(10, "a) b", 1, 100), stat(11, "a) 5 S 9 (x", 10, 110),
                                 stat(12, "a\nb", 10, 120), stat(13, "player", 11, 130), stat(14, "x", 10, 90),
                                 stat(15, "player", 10, 150).substr(0, 30), "16 player S 10", stat(20, "p", 1, 50),
                                 stat(21, "p", 20, 60), stat(22, "p", 1, 18446744073709551615ull)};
    std::vector<pulse::ProcStat> all;
    for (const std::string& line : lines) {
        pulse::ProcStat one;
        const auto pid = static_cast<std::uint32_t>(std::stoul(line));
        if (pulse::parseStat(line.data(), line.size(), pid, one)) all.push_back(one);
    }
    EXPECT_EQ(pulse::processTree(all, std::get<0>(GetParam()), std::get<1>(GetParam())), std::get<2>(GetParam()));
}

using Tree = std::vector<std::uint32_t>;
INSTANTIATE_TEST_SUITE_P(Trees, ProcessTree,
                         testing::Values(std::tuple(10u, 100ull, Tree{10, 11, 12, 13}), std::tuple(13u, 130ull, Tree{13}),
                                         std::tuple(10u, 99ull, Tree{}),  // the pid was taken over since activation
                                         std::tuple(20u, 0ull, Tree{20, 21}), std::tuple(30u, 0ull, Tree{30}),
                                         std::tuple(22u, 18446744073709551615ull, Tree{22})));

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
