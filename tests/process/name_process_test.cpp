// --name against real processes: copies of sleep under a name of their own,
// alone, as a parent and child, as two independent processes, and none. The
// name is longer than the kernel's 15-character command name, so it is found
// through the executable file, and has characters of two, three and four bytes
// in UTF-8, which must come back from the process list as they went in.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

namespace fs = std::filesystem;

struct NameCase {
    const char* label;
    std::vector<const char*> scripts;  // each started by the test: a root of a tree of copies
    unsigned copies;                   // the copies running once all have started
};

class Name : public ::testing::TestWithParam<NameCase> {};

TEST_P(Name, GivesTheOneRootOrSaysWhyNot) {
    const TempDir dir;
    const std::string name = "procloop-name-test-\u00C4\u20AC\U0001F3B5-" + std::to_string(::getpid());
    const std::string copy = dir.path() + "/" + name;
    fs::copy_file("/bin/sleep", copy);
    std::vector<pid_t> roots;
    for (const char* script : GetParam().scripts)
        roots.push_back(spawnProcess({"sh", "-c", script}, {{"COPY", copy}}, dir.path() + "/log"));
    const auto copiesRunning = [&] {
        unsigned running = 0;
        std::error_code none;
        for (const fs::directory_entry& entry : fs::directory_iterator("/proc"))
            running += fs::read_symlink(entry.path() / "exe", none) == copy ? 1 : 0;
        return running;
    };
    for (int i = 0; i < 1000 && copiesRunning() != GetParam().copies; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(copiesRunning(), GetParam().copies);

    ChildOptions options = procloop({"--name", name});
    options.env = {{"STANDIN_ENGINE_SCRIPT", "fail=ActivateAudioInterfaceAsync:80004005"}};  // stops after the pid line
    const ChildResult r = runChild(options);
    std::sort(roots.begin(), roots.end());
    std::string expected = "error: no process named " + name + "\n";
    if (roots.size() == 1) {
        expected = "info: pid=" + std::to_string(roots[0]) +
                   " includeChildren=false\nerror: ActivateAudioInterfaceAsync hr=0x80004005\n";
    }
    if (roots.size() == 2) {
        expected = "error: 2 processes named " + name + ": " + std::to_string(roots[0]) + ", " +
                   std::to_string(roots[1]) + "\n";
    }
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
    // Linux compares the file's name exactly: no other case, no ".exe".
    for (const std::string& other : {"PROCLOOP" + name.substr(8), name + ".exe"}) {
        options.argv.back() = other;
        EXPECT_EQ(runChild(options).err, "error: no process named " + other + "\n");
    }
    for (const pid_t root : roots) {
        killTree(root);
        ::waitpid(root, nullptr, 0);
    }
}

// The shell of the parent starts the child, then becomes the parent.
INSTANTIATE_TEST_SUITE_P(Processes, Name,
                         ::testing::Values(NameCase{"None", {}, 0}, NameCase{"One", {"exec \"$COPY\" 60"}, 1},
                                           NameCase{"ParentAndChild", {"\"$COPY\" 60 & exec \"$COPY\" 60"}, 2},
                                           NameCase{"Two", {"exec \"$COPY\" 60", "exec \"$COPY\" 60"}, 2}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
