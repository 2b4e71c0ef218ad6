// The host binary's stops besides Ctrl+C: the target ending, a duration, and
// Ctrl+C while the reader has stopped reading.
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

using Clock = std::chrono::steady_clock;



double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST(StopWithTarget, TheTargetEndingStopsTheCaptureInOrder) {
    const pid_t target = spawnProcess({"sleep", "1"}, {}, "/dev/null");
    const auto start = Clock::now();
    const ChildResult r = runChild(procloop({"--pid", std::to_string(target), "--stop-with-target"}));
    const double seconds = secondsSince(start);
    int status = 0;
    ::waitpid(target, &status, 0);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead(target) + "info: target process exited\n" + kStopped);
    EXPECT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.size() % 8, 0u);
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 10.0);
}

struct EarlyEnd {
    const char* name;
    std::vector<std::string> args;
    std::string err;
};

void PrintTo(const EarlyEnd& end, std::ostream* os) { *os << end.name; }

class TimingOptionRefused : public ::testing::TestWithParam<EarlyEnd> {};

TEST_P(TimingOptionRefused, BeforeAnyCapture) {
    const ChildResult r = runChild(procloop(GetParam().args));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_TRUE(r.out.empty());
}

// 2147483646 is above the kernel's largest pid.
INSTANTIATE_TEST_SUITE_P(
    Values, TimingOptionRefused,
    ::testing::Values(EarlyEnd{"NoSuchTarget",
                               {"--pid", "2147483646", "--stop-with-target"},
                               "info: pid=2147483646 includeChildren=false\nerror: could not open process 2147483646\n"},
                      EarlyEnd{"DurationNotANumber", {"--pid", "1234", "--duration", "x"},
                               "error: invalid value for --duration: x\n"},
                      EarlyEnd{"DurationTooLarge", {"--pid", "1234", "--duration", "4294967296"},
                               "error: invalid value for --duration: 4294967296\n"}),
    [](const ::testing::TestParamInfo<EarlyEnd>& info) { return std::string(info.param.name); });

TEST(Duration, StopsAfterThatManySecondsAsCtrlCDoes) {
    const auto start = Clock::now();
    const ChildResult r = runChild(procloop({"--pid", "1234", "--duration", "1"}));
    const double seconds = secondsSince(start);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead() + kStopped);
    EXPECT_EQ(r.out.size() % 8, 0u);
    EXPECT_GE(seconds, 1.0);
    EXPECT_LT(seconds, 10.0);
}

// The reader stops reading; once the pipe is full the program blocks in its
// write, and Ctrl+C must still end the run in order.
TEST(BlockedReader, CtrlCEndsTheRunPromptly) {
    ChildOptions options = procloop({"--pid", "1234"});
    options.stallStdoutAfter = 48000 * 8 / 10;
    options.signalWhenErrContains = "capture started";
    options.signalAfterOutBytes = options.stallStdoutAfter;
    options.timeoutMs = 10000;
    Clock::time_point signalledAt{};
    options.beforeSignal = [&](pid_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the pipe fills in far less
        signalledAt = Clock::now();
    };
    const ChildResult r = runChild(options);
    const double seconds = secondsSince(signalledAt);
    ASSERT_FALSE(r.timedOut);
    EXPECT_TRUE(r.signalled);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead() + kStopped);
    EXPECT_LT(seconds, 2.0);
    std::printf("stop with a blocked reader took %.3f s\n", seconds);
}

}  // namespace
