// The host binary started the hostile ways a Linux process can be started:
// standard descriptors closed, a reader of standard error already gone, a
// file-size limit, a storm of signals, no descriptors to spare, signals
// ignored by the parent. Each must end as the Windows build does: its lines,
// its exit code, never death by an unexpected signal.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "background_process.h"
#include "host_run.h"

namespace {

// "/dev/null r" for a descriptor the start-up reserved; what the child has on fd otherwise.
std::string describeDescriptor(pid_t pid, int fd) {
    const std::string base = "/proc/" + std::to_string(pid);
    char target[256] = {};
    const ssize_t n = ::readlink((base + "/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    if (n < 0) return "closed";
    std::ifstream info(base + "/fdinfo/" + std::to_string(fd));
    std::string key;
    unsigned long flags = 0;
    while (info >> key) {
        if (key == "flags:") {
            info >> std::oct >> flags;
            break;
        }
    }
    return std::string(target) + ((flags & O_ACCMODE) == O_RDONLY ? " r" : " w");
}

bool has(const std::vector<int>& fds, int fd) {
    for (const int f : fds) {
        if (f == fd) return true;
    }
    return false;
}

// --- Standard descriptors closed at start ------------------------------------

struct ClosedCase {
    const char* name;
    std::vector<int> closed;
};
void PrintTo(const ClosedCase& c, std::ostream* os) { *os << c.name; }

class ClosedAtStart : public ::testing::TestWithParam<ClosedCase> {};

TEST_P(ClosedAtStart, StopsInOrderAndNothingLandsOnThem) {
    const std::vector<int>& closed = GetParam().closed;
    ChildOptions options = procloop({"--pid", "1234"});
    options.closedAtStart = closed;
    const bool stdoutOpen = !has(closed, 1);
    const bool stderrOpen = !has(closed, 2);
    std::vector<std::string> seen;
    if (stdoutOpen) {
        // It runs until told to stop; meanwhile its closed descriptors are looked at.
        if (stderrOpen) options.signalWhenErrContains = "capture started";
        options.signalAfterOutBytes = 48000;
        options.beforeSignal = [&](pid_t pid) {
            for (const int fd : closed) seen.push_back(describeDescriptor(pid, fd));
        };
    }
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_EQ(r.exitCode, 0);  // capture started, so however it ended
    EXPECT_EQ(r.err, stderrOpen ? captureHead() + kStopped : "");
    if (stdoutOpen) {
        EXPECT_TRUE(r.signalled);
        EXPECT_GE(r.out.size(), 48000u);
        EXPECT_EQ(r.out.size() % 8, 0u);
        EXPECT_EQ(seen, std::vector<std::string>(closed.size(), "/dev/null r"));
    } else {
        EXPECT_TRUE(r.out.empty());  // the first sample write failed and ended the loop
    }
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ClosedAtStart,
                         ::testing::Values(ClosedCase{"Stdin", {0}}, ClosedCase{"Stderr", {2}},
                                           ClosedCase{"StdinAndStderr", {0, 2}}, ClosedCase{"Stdout", {1}},
                                           ClosedCase{"StdinAndStdout", {0, 1}}, ClosedCase{"All", {0, 1, 2}}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The reader of standard error gone before the first line -----------------

struct StopCase {
    const char* name;
    int signal;  // 0: the reader of standard output goes away instead
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StderrReaderGone : public ::testing::TestWithParam<StopCase> {};

TEST_P(StderrReaderGone, TheRunStillEndsWithSuccess) {
    ChildOptions options = procloop({"--pid", "1234"});
    options.stderrReaderGone = true;
    if (GetParam().signal == 0) {
        options.closeStdoutAfter = 20000;
    } else {
        options.signal = GetParam().signal;
        options.signalAfterOutBytes = 20000;
    }
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GE(r.out.size(), 20000u);
}

INSTANTIATE_TEST_SUITE_P(Stops, StderrReaderGone,
                         ::testing::Values(StopCase{"StdoutReaderGoesAway", 0}, StopCase{"CtrlC", SIGINT},
                                           StopCase{"CtrlBreak", SIGQUIT}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- A file-size limit: a full disk, not a killing signal ---------------------

class FileSizeLimit : public ::testing::TestWithParam<rlim_t> {};

TEST_P(FileSizeLimit, StopsCleanlyWithEveryByteThatFit) {
    const TempDir dir;
    const std::string path = dir.path() + "/capture.f32";
    ChildOptions options = procloop({"--pid", "1234"});
    options.stdoutPath = path;
    options.limits = {{RLIMIT_FSIZE, GetParam()}};
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead() + kStopped);

    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.size(), GetParam());  // up to the limit, including a part of the last sample
    if (bytes.size() >= 38400) {
        EXPECT_NEAR(frequencyOf(bytes), 330.0, 15.0);  // the whole frames are the tone
    }
}

// One byte; a tenth of a second exactly; the same and 3 bytes into a sample; a megabyte.
INSTANTIATE_TEST_SUITE_P(Limits, FileSizeLimit, ::testing::Values(1, 38400, 38403, 1 << 20));

// --- A storm of Ctrl+C during set-up ---------------------------------------------

struct StormCase {
    const char* name;
    const char* script;
    int thenSignal;
};
void PrintTo(const StormCase& c, std::ostream* os) { *os << c.name; }

class SignalStorm : public ::testing::TestWithParam<StormCase> {};

TEST_P(SignalStorm, NeitherDeadlocksNorLosesTheLastSignal) {
    ChildOptions options = procloop({"--pid", "1234"});
    options.env = {{"STANDIN_ENGINE_SCRIPT", GetParam().script}};
    options.signalWhenErrContains = "info: pid=";  // the handler is in, the capture is being set up
    options.signal = SIGINT;
    options.signalRepeat = 1000000;  // enough to fill any pipe a handler might write to
    options.thenSignal = GetParam().thenSignal;
    options.timeoutMs = 30000;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut) << r.err;
    EXPECT_TRUE(r.signalled);
    if (GetParam().thenSignal == SIGTERM) {
        // Still in set-up (the activation never completes): shutdown ends it.
        EXPECT_EQ(r.termSignal, SIGTERM);
        EXPECT_EQ(r.err, pidLine(1234));
    } else {
        EXPECT_EQ(r.termSignal, 0);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, captureHead() + kStopped);
    }
}

INSTANTIATE_TEST_SUITE_P(Storms, SignalStorm,
                         ::testing::Values(StormCase{"ThenStopsInOrder", "", 0},
                                           StormCase{"ThenShutdownStillEndsIt", "activation=never", SIGTERM}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- No descriptor to spare --------------------------------------------------------

struct ConsoleCase {
    const char* name;
    int signal;
    bool endsBySignal;  // close and shutdown end the process once the handler returned
};
void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << c.name; }

// 0, 1, 2 and one more, for the loader: not even a pipe. A sanitizer build
// checks memory through a pipe of its own, so it gets one more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr rlim_t kDescriptorLimit = 5;
#else
constexpr rlim_t kDescriptorLimit = 4;
#endif

class NoDescriptorsLeft : public ::testing::TestWithParam<ConsoleCase> {};

TEST_P(NoDescriptorsLeft, ConsoleEventsStillArrive) {
    ChildOptions options = procloop({"--pid", "1234"});
    options.limits = {{RLIMIT_NOFILE, kDescriptorLimit}};
    options.signalWhenErrContains = "capture started";
    options.signalAfterOutBytes = 48000;
    options.signal = GetParam().signal;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_TRUE(r.signalled);
    if (GetParam().endsBySignal) {
        EXPECT_EQ(r.termSignal, GetParam().signal);
        EXPECT_EQ(r.err, captureHead());
    } else {
        EXPECT_EQ(r.termSignal, 0);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, captureHead() + kStopped);
    }
}

INSTANTIATE_TEST_SUITE_P(Events, NoDescriptorsLeft,
                         ::testing::Values(ConsoleCase{"CtrlC", SIGINT, false}, ConsoleCase{"CtrlBreak", SIGQUIT, false},
                                           ConsoleCase{"Close", SIGHUP, true},
                                           ConsoleCase{"Shutdown", SIGTERM, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- No thread to spare for the console ------------------------------------------

TEST(NoThreadForTheConsole, IsSaidInOneLine) {
    ChildOptions options = procloop({"--hwnd", "77"});  // ends before anything else needs a thread
    // A sanitizer build's leak check needs a thread of its own, which this limit forbids.
    options.env = {{"DISPLAY", ""}, {"ASAN_OPTIONS", "detect_leaks=0"}};
    options.beforeExec = [] {
        // The limit binds only an unprivileged user, and counts all of that
        // user's threads: as nobody, this process is already all it allows.
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(122);
        const rlimit one{1, 1};
        if (::setrlimit(RLIMIT_NPROC, &one) != 0) ::_exit(123);
    };
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "warn: console control events unavailable: Resource temporarily unavailable\n"
              "error: could not resolve HWND 000000000000004D to a process id\n");
}

// --- Signals ignored by whoever started it ------------------------------------------

struct IgnoredCase {
    const char* name;
    int ignored;  // ignored at start and sent first; then Ctrl+C or shutdown
    int then;
};
void PrintTo(const IgnoredCase& c, std::ostream* os) { *os << c.name; }

class IgnoredAtStart : public ::testing::TestWithParam<IgnoredCase> {};

TEST_P(IgnoredAtStart, StaysIgnored) {
    ChildOptions options = procloop({"--pid", "1234"});
    options.ignoredAtStart = {GetParam().ignored};
    options.signalWhenErrContains = "capture started";
    options.signal = GetParam().ignored;
    options.thenSignal = GetParam().then;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    if (GetParam().then == SIGINT) {
        EXPECT_EQ(r.termSignal, 0);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, captureHead() + kStopped);
    } else {
        EXPECT_EQ(r.termSignal, GetParam().then);
        EXPECT_EQ(r.err, captureHead());
    }
}

// nohup ignores SIGHUP; a shell ignores SIGINT for a job it starts in the background.
INSTANTIATE_TEST_SUITE_P(Parents, IgnoredAtStart,
                         ::testing::Values(IgnoredCase{"Nohup", SIGHUP, SIGINT},
                                           IgnoredCase{"BackgroundJob", SIGINT, SIGTERM}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
