// The shipped binary's ways in and out against real servers: no server, the
// server dying, Ctrl+C with nothing playing, a reader that leaves or lags.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "pulse_fixture.h"

namespace {

constexpr const char* kStopped = "info: capture stopped\n";

TEST(PulseLifecycle, NoServerFailsTheActivation) {
    const std::string nowhere = "unix:/nonexistent/procloop-test/native";
    ChildOptions options;
    options.argv = {PROCLOOP_HOST_BINARY, "--pid", "4242", "--include-child-processes"};
    options.env = {{"PULSE_SERVER", nowhere}};
    options.timeoutMs = 20000;
    const ChildResult r = runChild(options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "info: pid=4242 includeChildren=true\n"
              "error: audio client activation failed hr=0x88890010\n");
    EXPECT_TRUE(r.out.empty());
}

using PulseRunEnds = PulseTest;

TEST_P(PulseRunEnds, TheServerDyingEndsTheRun) {
    AudioServer own(GetParam());  // this one is killed
    const std::string name = own.nameAndVersion();
    Player target(own, {"--freq", "440"});
    target.waitStreams();
    const unsigned channels = 3;  // 12-byte frames: a cut frame would show
    const CaptureRun run = capture(own, targetArgs(target.pid(), true, {"--channels", std::to_string(channels)}), 10.0,
                                   [&](double t) {
                                       if (t >= 0.6) own.kill();
                                   });
    EXPECT_FALSE(run.interrupted);
    EXPECT_EQ(run.result.exitCode, 0);
    const std::string head = PulseTest::head(target.pid(), true, name, 48000, channels);
    // The loss shows on the next call: after a wake-up it is warned about; a
    // failure while draining leaves quietly, as the loop does on Windows.
    const std::string ends[] = {"warn: GetNextPacketSize hr=0x88890004\n", "warn: GetBuffer hr=0x88890004\n", ""};
    EXPECT_TRUE(std::any_of(std::begin(ends), std::end(ends),
                            [&](const std::string& end) { return run.result.err == head + end + kStopped; }))
        << run.result.err;
    EXPECT_EQ(run.result.out.size() % (sizeof(float) * channels), 0u);
    EXPECT_GT(run.capture.seconds(), 0.3);
    expectTone(run.capture, kTargetHz);
}

TEST_P(PulseRunEnds, CtrlCWithNothingPlayingStopsInOrder) {
    const pid_t silent = ::getpid();  // this test binary plays nothing
    const auto start = std::chrono::steady_clock::now();
    const CaptureRun run = capture(server(), targetArgs(silent, true), 0.3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(run.interrupted);
    EXPECT_EQ(run.result.exitCode, 0);
    EXPECT_EQ(run.result.err, head(silent, true, server().nameAndVersion()) + kStopped);
    EXPECT_TRUE(run.result.out.empty());
}

TEST_P(PulseRunEnds, AReaderThatGoesAwayEndsTheRunWithSuccess) {
    Player target(server(), {"--freq", "440"});
    target.waitStreams();
    const CaptureRun run = capture(server(), targetArgs(target.pid(), true), 10.0, {}, 48000 * 8 / 4);
    EXPECT_FALSE(run.interrupted);
    EXPECT_EQ(run.result.exitCode, 0);
    EXPECT_EQ(run.result.err, head(target.pid(), true, server().nameAndVersion()) + kStopped);
}

// The reader stalls for 1.5 s: the pipe and the 200 ms buffer fill, the oldest
// audio is dropped, and the capture carries on with the newest.
TEST_P(PulseRunEnds, ASlowReaderLosesTheOldestAudioAndTheRunGoesOn) {
    Player target(server(), {"--freq", "440"});
    target.waitStreams();
    bool stalled = false;
    const CaptureRun run = capture(server(), targetArgs(target.pid(), true), 3.0, [&](double t) {
        if (stalled || t < 0.3) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        stalled = true;
    });
    EXPECT_TRUE(stalled);
    EXPECT_EQ(run.result.exitCode, 0);
    EXPECT_EQ(run.result.err, head(target.pid(), true, server().nameAndVersion()) + kStopped);
    EXPECT_EQ(run.result.out.size() % 8, 0u);
    EXPECT_LT(run.capture.seconds(), 3.0 - 0.8);  // the stall less what the pipe and buffer hold
    EXPECT_GT(run.capture.seconds(), 1.0);
    expectTone(run.capture.last(0.5), kTargetHz);
}

TEST_P(PulseRunEnds, ThePlayerEndingStopsTheCaptureWithTheTarget) {
    Player target(server(), {"--freq", "440", "--seconds", "1.5"});
    target.waitStreams();
    const CaptureRun run = capture(server(), targetArgs(target.pid(), true, {"--stop-with-target"}), 10.0);
    EXPECT_FALSE(run.interrupted);
    EXPECT_EQ(run.result.exitCode, 0);
    EXPECT_EQ(run.result.err,
              head(target.pid(), true, server().nameAndVersion()) + "info: target process exited\n" + kStopped);
    EXPECT_EQ(run.result.out.size() % 8, 0u);
    expectTone(run.capture, kTargetHz);
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseRunEnds, ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         serverName);

}  // namespace
