// --name against real processes: copies of sleep under a name of their own,
// alone, as a parent and child, as two independent processes, and none. The
// name is longer than the kernel's 15-character command name, so it is found
// through the executable file.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

// Stops the run right after the target is resolved.
const Environment kStopAtCapture = {{"STANDIN_ENGINE_SCRIPT", "fail=ActivateAudioInterfaceAsync:80004005"}};
constexpr const char* kStoppedAtCapture = "error: ActivateAudioInterfaceAsync hr=0x80004005\n";


std::string pidLine(pid_t pid) { return "info: pid=" + std::to_string(pid) + " includeChildren=false\n"; }

std::string exeOf(pid_t pid) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
}

std::vector<pid_t> childrenOf(pid_t pid) {
    const std::string id = std::to_string(pid);
    std::ifstream file("/proc/" + id + "/task/" + id + "/children");
    std::vector<pid_t> children;
    for (pid_t child = 0; file >> child;) children.push_back(child);
    return children;
}

enum class Layout { None, One, ParentAndChild, Two };

struct NameCase {
    const char* label;
    Layout layout;
};

class Name : public ::testing::TestWithParam<NameCase> {
protected:
    void SetUp() override {
        name_ = "procloop-name-test-" + std::to_string(::getpid());
        path_ = dir_.path() + "/" + name_;
        std::filesystem::copy_file("/bin/sleep", path_);
    }
    void TearDown() override {
        for (pid_t child : grandchildren_) ::kill(child, SIGKILL);
        for (pid_t pid : started_) stopProcess(pid, SIGKILL);
    }

    pid_t start(const std::vector<std::string>& argv) {
        started_.push_back(spawnProcess(argv, {}, dir_.path() + "/log"));
        return started_.back();
    }
    // True once `pid` runs the copy (fails the test after 10 s).
    void awaitExec(pid_t pid) {
        for (int i = 0; i < 1000 && exeOf(pid) != path_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(exeOf(pid), path_) << pid;
    }

    const TempDir dir_;
    std::string name_, path_;
    std::vector<pid_t> started_, grandchildren_;
};

TEST_P(Name, GivesTheOneRootOrSaysWhyNot) {
    std::string expected = "error: no process named " + name_ + "\n";
    switch (GetParam().layout) {
        case Layout::None:
            break;
        case Layout::One: {
            const pid_t one = start({path_, "60"});
            awaitExec(one);
            expected = pidLine(one) + kStoppedAtCapture;
            break;
        }
        case Layout::ParentAndChild: {
            // The shell starts the child, then becomes the parent.
            const pid_t parent = start({"/bin/sh", "-c", "'" + path_ + "' 60 & exec '" + path_ + "' 60"});
            awaitExec(parent);
            for (int i = 0; i < 1000 && childrenOf(parent).empty(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            grandchildren_ = childrenOf(parent);
            ASSERT_EQ(grandchildren_.size(), 1u);
            awaitExec(grandchildren_[0]);
            expected = pidLine(parent) + kStoppedAtCapture;
            break;
        }
        case Layout::Two: {
            const pid_t first = start({path_, "60"}), second = start({path_, "60"});
            awaitExec(first);
            awaitExec(second);
            expected = "error: 2 processes named " + name_ + ": " + std::to_string(std::min(first, second)) + ", " +
                       std::to_string(std::max(first, second)) + "\n";
            break;
        }
    }
    ChildOptions options = procloop({"--name", name_});
    options.env = kStopAtCapture;
    const ChildResult r = runChild(options);
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(Processes, Name,
                         ::testing::Values(NameCase{"None", Layout::None}, NameCase{"One", Layout::One},
                                           NameCase{"ParentAndChild", Layout::ParentAndChild},
                                           NameCase{"Two", Layout::Two}),
                         [](const auto& info) { return std::string(info.param.label); });

// A pid, then a window, win over a name; the name is then not looked up.
TEST(NamePrecedence, PidThenWindowThenName) {
    ChildOptions byPid = procloop({"--name", "sleep", "--pid", "17"});
    ChildOptions byWindow = procloop({"--hwnd", "77", "--name", "sleep"});
    byPid.env = byWindow.env = kStopAtCapture;
    EXPECT_EQ(runChild(byPid).err, pidLine(17) + kStoppedAtCapture);
    EXPECT_EQ(runChild(byWindow).err, "error: could not resolve HWND 000000000000004D to a process id\n");
}

}  // namespace
