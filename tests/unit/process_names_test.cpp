#include "app/process_names.h"
#include "app/session_table.h"

#include <gtest/gtest.h>

namespace {

// A browser-like tree: 100 (shell) -> 200 app -> 201 app -> 202 app, a second
// app at 300 under the shell, a helper 210 under 200 and an app under it.
const std::vector<ProcessEntry> kTree = {
    {1, 0, "init"},       {100, 1, "shell"},    {200, 100, "app"},       {201, 200, "app"},  {202, 201, "app"},
    {210, 200, "helper"}, {211, 210, "app"},    {300, 100, "App.exe"},   {400, 400, "self"}, {500, 999, "orphan"},
    {600, 1, "tool.exe.exe"}, {700, 1, "\u00C9clair.exe"},
};

struct RootsCase {
    const char* name;
    bool ignoreCase;  // Windows' rule: any case, with or without one ".exe"; else the name exactly
    std::vector<std::uint32_t> roots;
};

class RootsNamed : public ::testing::TestWithParam<RootsCase> {};

TEST_P(RootsNamed, AreTheMatchesWhoseParentDoesNotMatch) {
    EXPECT_EQ(rootsNamed(kTree, GetParam().name, GetParam().ignoreCase), GetParam().roots) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, RootsNamed,
    ::testing::Values(RootsCase{"app", false, {200, 211}}, RootsCase{"app", true, {200, 211, 300}},
                      RootsCase{"APP.exe", true, {200, 211, 300}}, RootsCase{"App.exe", false, {300}},
                      RootsCase{"App", false, {}}, RootsCase{"ap", true, {}}, RootsCase{"App.ex", true, {}},
                      RootsCase{"TOOL.exe", true, {}}, RootsCase{"self", false, {400}}, RootsCase{"orphan", false, {500}},
#ifdef _WIN32  // as the file system compares names
                      RootsCase{"\u00E9CLAIR", true, {700}}
#else
                      RootsCase{"\u00E9CLAIR", true, {}}
#endif
                      ));

// A loop of parents (a reused pid) ends where it began.
TEST(TreeRoot, EndsALoopOfParents) { EXPECT_EQ(treeRoot({{5, 6, "x"}, {6, 5, "x"}}, 5, false), 5u); }

struct TableCase {
    const char* label;
    std::vector<SessionOwner> sessions;
    const char* rows;  // after the header
};

class SessionTable : public ::testing::TestWithParam<TableCase> {};

// The root climbs through parents with the same executable.
TEST_P(SessionTable, OneLinePerProcessInPidOrder) {
    EXPECT_EQ(sessionTable(GetParam().sessions, kTree, true), std::string("pid\tstate\texecutable\troot\n") + GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionTable,
    ::testing::Values(TableCase{"ChildOfATree", {{202, true}}, "202\tactive\tapp\t200\n"},
                      TableCase{"OwnRoots", {{210, true}, {400, false}, {500, true}},
                                "210\tactive\thelper\t210\n400\tinactive\tself\t400\n500\tactive\torphan\t500\n"},
                      TableCase{"SortedOnceActiveIfAnyIs",
                                {{300, false}, {202, false}, {300, true}, {202, false}},
                                "202\tinactive\tapp\t200\n300\tactive\tApp.exe\t300\n"},
                      TableCase{"NoProcessOrEnded", {{0, true}, {77, true}, {211, false}}, "211\tinactive\tapp\t211\n"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
