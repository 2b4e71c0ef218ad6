// The Linux audio service's /proc reader: a stat line's parent and start time
// whatever the command name holds, and process trees that a reused pid cannot enter.
#include "platform/pulse/proc_tree.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A stat line of pid 77: the command name, state, parent, 17 fields, the start time.
std::string stat(const std::string& comm, const char* ppid, const char* start) {
    return "77 (" + comm + ") S " + ppid + " 1 1 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0 " + start + " 1000 200\n";
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
    pulse::ProcStat out;
    ASSERT_EQ(pulse::parseStat(c.text.data(), c.text.size(), 77, out), c.ok) << c.text;
    EXPECT_TRUE(!c.ok || (out.pid == 77u && out.ppid == c.ppid && out.startTime == c.start))
        << c.text << " -> " << out.pid << " " << out.ppid << " " << out.startTime;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseStat,
    testing::Values(StatCase{stat("player", "12", "987654"), true, 12, 987654},
                    // A command name may hold spaces, ')', '(', digits and line ends.
                    StatCase{stat("a) b", "4321", "18446744073709551615"), true, 4321, 18446744073709551615ull},
                    StatCase{stat("a) 5 S 9 (x", "7", "8"), true, 7, 8}, StatCase{stat(")) (", "3", "5"), true, 3, 5},
                    StatCase{stat("a\nb", "3", "5"), true, 3, 5}, StatCase{stat("", "3", "5"), true, 3, 5},
                    StatCase{stat("player", "12", "55").substr(0, 30), false, 0, 0},  // cut short
                    StatCase{stat("player", "1x", "55"), false, 0, 0}, StatCase{"77 player S 12", false, 0, 0}));

struct TreeCase {
    std::uint32_t target;
    std::uint64_t targetStart;  // 0: never seen
    std::vector<std::uint32_t> tree;
};

class ProcessTree : public testing::TestWithParam<TreeCase> {};

TEST_P(ProcessTree, FollowsParentsForward) {
    // 10 started at 100: children 11 and 12, grandchild 13 under 11. 14 names 10
    // as parent but started before it: a reused pid's leftover. 21 is 20's child.
    const std::vector<pulse::ProcStat> all = {{1, 0, 1},     {10, 1, 100}, {11, 10, 110}, {12, 10, 120},
                                              {13, 11, 130}, {14, 10, 90}, {20, 1, 50},   {21, 20, 60}};
    EXPECT_EQ(pulse::processTree(all, GetParam().target, GetParam().targetStart), GetParam().tree);
}

INSTANTIATE_TEST_SUITE_P(Trees, ProcessTree,
                         testing::Values(TreeCase{10, 100, {10, 11, 12, 13}}, TreeCase{13, 130, {13}},
                                         TreeCase{10, 99, {}},  // the pid was taken over since activation
                                         TreeCase{20, 0, {20, 21}}, TreeCase{30, 0, {30}}));

TEST(ProcessTree, ReadsThisProcessAndItsParentFromProc) {
    pulse::ProcStat self;
    ASSERT_TRUE(pulse::readProcStat(static_cast<std::uint32_t>(getpid()), self));
    EXPECT_EQ(self.ppid, static_cast<std::uint32_t>(getppid()));
    const std::vector<std::uint32_t> tree = pulse::processTree(pulse::readAllProcesses(), self.ppid, 0);
    EXPECT_TRUE(pulse::inTree(tree, self.pid) && pulse::inTree(tree, self.ppid) && !pulse::inTree(tree, 0));
}

}  // namespace
