#include "app/process_names.h"
#include "app/session_table.h"

#include <gtest/gtest.h>

namespace {

struct SameCase {
    const char* a;
    const char* b;
    bool ignoreCase;
    bool same;
};

class SameExecutable : public ::testing::TestWithParam<SameCase> {};

TEST_P(SameExecutable, FollowsThePlatformsRule) {
    const SameCase& c = GetParam();
    EXPECT_EQ(sameExecutable(c.a, c.b, c.ignoreCase), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(sameExecutable(c.b, c.a, c.ignoreCase), c.same) << "symmetric";
}

INSTANTIATE_TEST_SUITE_P(
    Names, SameExecutable,
    ::testing::Values(SameCase{"firefox", "firefox", false, true}, SameCase{"Firefox", "firefox", false, false},
                      SameCase{"firefox.exe", "firefox", false, false}, SameCase{"fire", "firefox", false, false},
                      SameCase{"Spotify.exe", "spotify", true, true}, SameCase{"SPOTIFY.EXE", "spotify.exe", true, true},
                      SameCase{"spotify.exe", "spotify.ex", true, false}, SameCase{".exe", "", true, false},
                      SameCase{".exe", ".EXE", true, true}, SameCase{"a.exe.exe", "A.exe", true, false},
                      SameCase{"", "", true, true}));

// A browser-like tree: 100 (shell) -> 200 app -> 201 app -> 202 app, a second
// app at 300 under the shell, a helper 210 under 200 and an app under it.
const std::vector<ProcessEntry> kTree = {
    {1, 0, "init"},    {100, 1, "shell"},  {200, 100, "app"}, {201, 200, "app"},  {202, 201, "app"},
    {210, 200, "helper"}, {211, 210, "app"}, {300, 100, "App.exe"}, {400, 400, "self"}, {500, 999, "orphan"},
};

struct RootsCase {
    const char* name;
    bool ignoreCase;
    std::vector<std::uint32_t> roots;
};

class RootsNamed : public ::testing::TestWithParam<RootsCase> {};

TEST_P(RootsNamed, AreTheMatchesWhoseParentDoesNotMatch) {
    EXPECT_EQ(rootsNamed(kTree, GetParam().name, GetParam().ignoreCase), GetParam().roots) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Trees, RootsNamed,
                         ::testing::Values(RootsCase{"app", false, {200, 211}}, RootsCase{"app", true, {200, 211, 300}},
                                           RootsCase{"APP.exe", true, {200, 211, 300}}, RootsCase{"App.exe", false, {300}},
                                           RootsCase{"shell", false, {100}}, RootsCase{"self", false, {400}},
                                           RootsCase{"orphan", false, {500}}, RootsCase{"nothing", true, {}}));

TEST(TreeRoot, ClimbsThroughParentsWithTheSameExecutable) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {{202, 200}, {201, 200}, {200, 200}, {211, 211},
                                                             {210, 210}, {400, 400}, {500, 500}, {77, 77}};
    for (const auto& c : cases) EXPECT_EQ(treeRoot(kTree, c.first, false), c.second) << c.first;
    EXPECT_EQ(treeRoot({{5, 6, "x"}, {6, 5, "x"}}, 5, false), 5u);  // a loop of parents ends where it began
}

struct TableCase {
    const char* label;
    std::vector<SessionOwner> sessions;
    const char* rows;  // after the header
};

class SessionTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(SessionTable, OneLinePerProcessInPidOrder) {
    EXPECT_EQ(sessionTable(GetParam().sessions, kTree, true), std::string("pid\tstate\texecutable\troot\n") + GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionTable,
    ::testing::Values(TableCase{"None", {}, ""},
                      TableCase{"ChildOfATree", {{202, true}}, "202\tactive\tapp\t200\n"},
                      TableCase{"SortedOnceActiveIfAnyIs",
                                {{300, false}, {202, false}, {300, true}, {202, false}},
                                "202\tinactive\tapp\t200\n300\tactive\tApp.exe\t300\n"},
                      TableCase{"NoProcessOrEnded", {{0, true}, {77, true}, {211, false}}, "211\tinactive\tapp\t211\n"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
