#include "app/process_names.h"
#include "app/session_table.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "windows/executable_name.h"
#endif

namespace {

// A browser-like tree: 100 (shell) -> 200 app -> 201 app -> 202 app, a second
// app at 300 under the shell, a helper 210 under 200 and an app under it.
const std::vector<ProcessEntry> kTree = {
    {1, 0, "init"},       {100, 1, "shell"},    {200, 100, "app"},       {201, 200, "app"},  {202, 201, "app"},
    {210, 200, "helper"}, {211, 210, "app"},    {300, 100, "App.exe"},   {400, 400, "self"}, {500, 999, "orphan"},
    {600, 1, "tool.exe.exe"}, {700, 1, "\u00C9clair.exe"},
};

bool exactly(const std::string& a, const std::string& b) { return a == b; }

struct RootsCase {
    const char* name;
    bool (*same)(const std::string&, const std::string&);  // the platform's rule for names
    std::vector<std::uint32_t> roots;
};

class RootsNamed : public ::testing::TestWithParam<RootsCase> {};

TEST_P(RootsNamed, AreTheMatchesWhoseParentDoesNotMatch) {
    EXPECT_EQ(rootsNamed(kTree, GetParam().name, GetParam().same), GetParam().roots) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, RootsNamed,
    ::testing::Values(RootsCase{"app", exactly, {200, 211}}, RootsCase{"App.exe", exactly, {300}},
                      RootsCase{"App", exactly, {}}, RootsCase{"self", exactly, {400}},
                      RootsCase{"orphan", exactly, {500}}, RootsCase{"\u00E9clair.exe", exactly, {}}
#ifdef _WIN32  // as Windows file names compare: any case, with or without one ".exe"
                      ,
                      RootsCase{"app", sameWindowsExecutable, {200, 211, 300}},
                      RootsCase{"APP.exe", sameWindowsExecutable, {200, 211, 300}},
                      RootsCase{"ap", sameWindowsExecutable, {}}, RootsCase{"App.ex", sameWindowsExecutable, {}},
                      RootsCase{"TOOL.exe", sameWindowsExecutable, {}},
                      RootsCase{"\u00E9CLAIR", sameWindowsExecutable, {700}}
#endif
                      ));

// A loop of parents (a reused pid) ends where it began.
TEST(TreeRoot, EndsALoopOfParents) { EXPECT_EQ(treeRoot({{5, 6, "x"}, {6, 5, "x"}}, 5, exactly), 5u); }

struct TableCase {
    const char* label;
    std::vector<SessionOwner> sessions;
    const char* rows;  // after the header
};

class SessionTable : public ::testing::TestWithParam<TableCase> {};

// The root climbs through parents with the same executable.
TEST_P(SessionTable, OneLinePerProcessInPidOrder) {
    EXPECT_EQ(sessionTable(GetParam().sessions, kTree, exactly), std::string("pid\tstate\texecutable\troot\n") + GetParam().rows);
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
