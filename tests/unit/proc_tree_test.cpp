// The Linux audio service's /proc reader: a stat line's parent and start time
// whatever the command name holds, and process trees that a reused pid cannot enter.
#include "platform/pulse/proc_tree.h"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

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
                    std::tuple(stat(")) (", "3", "5"), true, 3u, 5ull), std::tuple(stat("a\nb", "3", "5"), true, 3u, 5ull),
                    std::tuple(stat("", "3", "5"), true, 3u, 5ull),
                    std::tuple(stat("player", "12", "55").substr(0, 30), false, 0u, 0ull),  // cut short
                    std::tuple(stat("player", "1x", "55"), false, 0u, 0ull),
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

}  // namespace
