// The shipped binary against real PulseAudio and PipeWire servers: which
// streams it records, as players start, end, move and pause around it.
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pulse_fixture.h"

namespace {

constexpr double kThirdHz = 770.0;

const std::vector<std::string> kTone{"--freq", "440"};
const std::vector<std::string> kOtherTone{"--freq", "660"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

class PulseCapture : public PulseTest {
protected:
    void expectStoppedByCtrlC(const CaptureRun& run, pid_t target, bool includeChildren, unsigned rate = 48000,
                              unsigned channels = 2) {
        EXPECT_TRUE(run.interrupted);
        EXPECT_EQ(run.result.exitCode, 0);
        EXPECT_EQ(run.result.err,
                  head(target, includeChildren, server().nameAndVersion(), rate, channels) + "info: capture stopped\n");
        EXPECT_EQ(run.result.out.size() % (sizeof(float) * channels), 0u);
    }
};

// Who plays what, whom procloop is pointed at, and which tones must be in the capture.
struct TreeCase {
    const char* name;
    std::vector<std::string> target;  // the target player's arguments
    bool includeChildren;
    std::vector<double> present;
    std::vector<double> absent;
};

TEST_P(PulseCapture, RecordsTheTargetTreeOrEverythingElse) {
    const TreeCase cases[] = {
        {"include", kTone, true, {kTargetHz}, {kOtherHz}},
        {"exclude", kTone, false, {kOtherHz}, {kTargetHz}},
        {"include, a child plays", with(kTone, {"--fork"}), true, {kTargetHz}, {kOtherHz}},
        {"exclude, a child plays", with(kTone, {"--fork"}), false, {kOtherHz}, {kTargetHz}},
        {"include, two streams", with(kTone, {"--freq", "550"}), true, {kTargetHz, 550.0}, {kOtherHz}},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Player target(server(), c.target);
        Player other(server(), kOtherTone);
        target.waitStreams(static_cast<std::size_t>(std::count(c.target.begin(), c.target.end(), "--freq")));
        other.waitStreams();
        const CaptureRun run = capture(server(), targetArgs(target.pid(), c.includeChildren), 1.0);
        expectStoppedByCtrlC(run, target.pid(), c.includeChildren);
        EXPECT_GT(run.capture.seconds(), 0.6);
        for (double hz : c.present) expectTone(run.capture, hz);
        for (double hz : c.absent) expectNoTone(run.capture, hz);
    }
}

TEST_P(PulseCapture, FollowsAChildThatStartsPlayingAfterCaptureBegan) {
    Player target(server(), with(kTone, {"--fork", "--delay", "700"}));
    Player other(server(), kOtherTone);
    other.waitStreams();
    const CaptureRun run = capture(server(), targetArgs(target.pid(), true), 1.8);
    expectStoppedByCtrlC(run, target.pid(), true);
    EXPECT_LT(run.capture.seconds(), 1.5);  // nothing before the child played
    expectTone(run.capture.last(0.5), kTargetHz);
    expectNoTone(run.capture, kOtherHz);
}

// On PipeWire a monitor of a stream that ends would move on to the whole mix.
TEST_P(PulseCapture, WhenTheTargetStreamEndsNothingElseIsRecorded) {
    Player target(server(), with(kTone, {"--seconds", "0.6"}));
    Player other(server(), kOtherTone);
    target.waitStreams();
    other.waitStreams();
    const CaptureRun run = capture(server(), targetArgs(target.pid(), true), 2.0);
    expectStoppedByCtrlC(run, target.pid(), true);
    EXPECT_LT(run.capture.seconds(), 1.0);  // no packets once it ended
    expectTone(run.capture.first(0.4), kTargetHz);
    expectNoTone(run.capture, kOtherHz);
}

TEST_P(PulseCapture, FollowsAStreamMovedToAnotherSink) {
    Player target(server(), kTone);
    Player other(server(), kOtherTone);
    Player onSecondSink(server(), {"--freq", "770", "--sink", "out2"});
    const long index = target.waitStreams().at(0);
    other.waitStreams();
    onSecondSink.waitStreams();
    bool moved = false;
    const CaptureRun run = capture(server(), targetArgs(target.pid(), true), 2.0, [&](double t) {
        if (moved || t < 0.6) return;
        server().pactl({"move-sink-input", std::to_string(index), "out2"});
        moved = true;
    });
    EXPECT_TRUE(moved);
    expectStoppedByCtrlC(run, target.pid(), true);
    EXPECT_GT(run.capture.seconds(), 1.4);
    expectTone(run.capture.last(0.5), kTargetHz);
    expectNoTone(run.capture, kOtherHz);
    expectNoTone(run.capture, kThirdHz);
}

// PulseAudio delivers silence for a paused stream, PipeWire nothing; either
// way the capture goes on and picks the stream up when it resumes.
TEST_P(PulseCapture, FollowsACorkedStreamThatResumes) {
    Player target(server(), with(kTone, {"--cork-after", "500", "--cork-for", "600"}));
    Player other(server(), kOtherTone);
    target.waitStreams();
    other.waitStreams();
    const CaptureRun run = capture(server(), targetArgs(target.pid(), true), 1.8);
    expectStoppedByCtrlC(run, target.pid(), true);
    expectTone(run.capture.first(0.3), kTargetHz);
    expectTone(run.capture.last(0.4), kTargetHz);
    expectNoTone(run.capture, kOtherHz);
}

TEST_P(PulseCapture, AStreamMutedInTheMixerIsCapturedAsSilence) {
    Player target(server(), kTone);
    Player other(server(), kOtherTone);
    server().pactl({"set-sink-input-mute", std::to_string(target.waitStreams().at(0)), "1"});
    other.waitStreams();
    const CaptureRun run = capture(server(), targetArgs(target.pid(), true), 1.0);
    expectStoppedByCtrlC(run, target.pid(), true);
    EXPECT_GT(run.capture.seconds(), 0.6);  // it keeps time
    expectNoTone(run.capture, kTargetHz);
    expectNoTone(run.capture, kOtherHz);
}

TEST_P(PulseCapture, TheServerConvertsToTheRequestedFormat) {
    struct Case {
        unsigned rate, channels;
    };
    for (const Case c : {Case{44100, 1}, Case{48000, 8}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz " + std::to_string(c.channels) + " ch");
        Player target(server(), kTone);  // 48 kHz stereo
        Player other(server(), kOtherTone);
        target.waitStreams();
        other.waitStreams();
        const CaptureRun run = capture(
            server(),
            targetArgs(target.pid(), true,
                       {"--sample-rate", std::to_string(c.rate), "--channels", std::to_string(c.channels)}),
            1.0);
        expectStoppedByCtrlC(run, target.pid(), true, c.rate, c.channels);
        EXPECT_EQ(run.capture.rate, c.rate);
        EXPECT_GT(run.capture.seconds(), 0.6);
        if (c.channels == 1) expectTone(run.capture, kTargetHz, {0});
        else expectTone(run.capture, kTargetHz);  // front left and right
        expectNoTone(run.capture, kOtherHz);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseCapture, ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         serverName);

// A native PipeWire stream carries no process id of its own; its client does.
using PipeWireNativeClient = PulseCapture;

TEST_P(PipeWireNativeClient, IsAttributedToItsProcess) {
    const std::string wav = server().dir() + "/tone.wav";
    ChildOptions sox;
    sox.argv = {"sox", "-n", "-r", "48000", "-c", "2", "-b", "16", wav, "synth", "5", "sine", "440", "vol", "0.25"};
    ASSERT_EQ(runChild(sox).exitCode, 0);
    for (bool includeChildren : {true, false}) {
        SCOPED_TRACE(includeChildren ? "include" : "exclude");
        Player other(server(), kOtherTone);
        other.waitStreams();
        const pid_t native = spawnProcess({"pw-play", wav}, server().env(), server().dir() + "/pw.log");
        for (int i = 0; i < 100 && server().pactl({"list", "short", "sink-inputs"}).find("PipeWire") ==
                                       std::string::npos;
             ++i)
            ::usleep(20000);
        const CaptureRun run = capture(server(), targetArgs(native, includeChildren), 1.0);
        stopProcess(native);
        expectStoppedByCtrlC(run, native, includeChildren);
        expectTone(run.capture, includeChildren ? kTargetHz : kOtherHz);
        expectNoTone(run.capture, includeChildren ? kOtherHz : kTargetHz);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, PipeWireNativeClient, ::testing::Values(ServerKind::PipeWire), serverName);

}  // namespace
