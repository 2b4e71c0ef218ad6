#include "platform/pulse/proc_tree.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using pulse::ProcStat;

// Fields 3..22 of a stat line after the command name: state, ppid, then 17
// fields, then the start time.
std::string tail(const char* ppid, const char* start) {
    return std::string(" S ") + ppid + " 1 1 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0 " + start + " 1000 200\n";
}

struct StatCase {
    std::string text;
    bool ok;
    std::uint32_t ppid;
    std::uint64_t start;
};

class ParseStat : public testing::TestWithParam<StatCase> {};

TEST_P(ParseStat, ReadsParentAndStartAfterTheLastParenthesis) {
    const StatCase& c = GetParam();
    ProcStat out;
    ASSERT_EQ(pulse::parseStat(c.text.data(), c.text.size(), 77, out), c.ok) << c.text;
    if (!c.ok) return;
    EXPECT_EQ(out.pid, 77u);
    EXPECT_EQ(out.ppid, c.ppid);
    EXPECT_EQ(out.startTime, c.start);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseStat,
    testing::Values(StatCase{"77 (player)" + tail("12", "987654"), true, 12, 987654},
                    // A command name may hold spaces, ')' and digits.
                    StatCase{"77 (a) 5 S 9 (x)" + tail("4321", "18446744073709551615"), true, 4321,
                             18446744073709551615ull},
                    StatCase{"77 (player)" + tail("12", "55").substr(0, 30), false, 0, 0},  // cut short
                    StatCase{"77 (player)" + tail("1x", "55"), false, 0, 0},
                    StatCase{"77 player S 12", false, 0, 0}));

struct TreeCase {
    const char* name;
    std::uint32_t target;
    std::uint64_t targetStart;
    std::vector<std::uint32_t> tree;
};

class ProcessTree : public testing::TestWithParam<TreeCase> {};

TEST_P(ProcessTree, FollowsParentsForward) {
    // 10 started at 100: children 11 (110) and 12 (120), grandchild 13 under 11.
    // 14 names 10 as parent but started before it: a reused pid's leftover.
    // 20 is unrelated, 21 its child.
    const std::vector<ProcStat> all = {{1, 0, 1},    {10, 1, 100},  {11, 10, 110}, {12, 10, 120},
                                       {13, 11, 130}, {14, 10, 90}, {20, 1, 50},   {21, 20, 60}};
    const TreeCase& c = GetParam();
    EXPECT_EQ(pulse::processTree(all, c.target, c.targetStart), c.tree) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, ProcessTree,
    testing::Values(TreeCase{"target and descendants", 10, 100, {10, 11, 12, 13}},
                    TreeCase{"a leaf", 13, 130, {13}},
                    TreeCase{"pid taken over since activation", 10, 99, {}},
                    TreeCase{"never seen, still running", 20, 0, {20, 21}},
                    TreeCase{"never seen, not running", 30, 0, {30}}));

TEST(ProcessTree, ReadsThisProcessAndItsParentFromProc) {
    ProcStat self;
    ASSERT_TRUE(pulse::readProcStat(static_cast<std::uint32_t>(getpid()), self));
    EXPECT_EQ(self.ppid, static_cast<std::uint32_t>(getppid()));
    const std::vector<std::uint32_t> tree =
        pulse::processTree(pulse::readAllProcesses(), self.ppid, 0);
    EXPECT_TRUE(pulse::inTree(tree, self.pid));
    EXPECT_TRUE(pulse::inTree(tree, self.ppid));
    EXPECT_FALSE(pulse::inTree(tree, 0));
}

}  // namespace
