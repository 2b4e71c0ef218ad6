// The host binary as other programs use it: started, read through a pipe,
// stopped with a signal.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

constexpr const char* kHead =
    "info: pid=1234 includeChildren=%s\n"
    "info: capture format 48000 Hz 2 ch 32 bit float\n"
    "info: capture started sampleRate=48000 channels=2\n";

std::string head(bool includeChildren) {
    char text[256];
    std::snprintf(text, sizeof text, kHead, includeChildren ? "true" : "false");
    return text;
}

ChildOptions procloop(std::vector<std::string> args) {
    ChildOptions options;
    options.argv = {PROCLOOP_HOST_BINARY};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    return options;
}

// Rising zero crossings of channel 0 per second of stereo float audio.
double frequencyOf(const std::vector<unsigned char>& bytes) {
    const std::size_t frames = bytes.size() / 8;
    std::vector<float> left(frames);
    for (std::size_t i = 0; i < frames; ++i) std::memcpy(&left[i], &bytes[i * 8], sizeof(float));
    unsigned rising = 0;
    for (std::size_t i = 1; i < frames; ++i) rising += (left[i - 1] < 0.0f && left[i] >= 0.0f) ? 1 : 0;
    return rising * 48000.0 / static_cast<double>(frames);
}

TEST(HostProcess, CtrlCStopsInOrderAndTheStandInPlaysItsTones) {
    struct Case {
        bool includeChildren;
        double hz;
    };
    for (const Case& c : {Case{true, 440.0}, Case{false, 330.0}}) {
        ChildOptions options = procloop({"--pid", "1234"});
        if (c.includeChildren) options.argv.push_back("--include-child-processes");
        options.signalWhenErrContains = "capture started";
        options.signalAfterOutBytes = 48000 * 8;  // a second of audio
        const ChildResult r = runChild(options);
        ASSERT_FALSE(r.timedOut);
        EXPECT_TRUE(r.signalled);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, head(c.includeChildren) + "info: capture stopped\n");
        EXPECT_EQ(r.out.size() % 8, 0u);
        EXPECT_NEAR(frequencyOf(r.out), c.hz, 3.0);
    }
}

TEST(HostProcess, AReaderThatGoesAwayEndsTheRunWithSuccess) {
    ChildOptions options = procloop({"--pid", "1234"});
    options.closeStdoutAfter = 20000;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, head(false) + "info: capture stopped\n");
}

// Built with AddressSanitizer, the binary's leak check turns any leak at exit
// into exit code 23; every set-up failure must still exit with exactly 1.
TEST(HostProcess, EverySetupFailureExitsCleanlyWithItsLine) {
    struct Case {
        const char* faults;
        const char* script;
        const char* line;
    };
    const Case cases[] = {
        {"coinit:80010106", "", "error: CoInitializeEx failed hr=0x80010106\n"},
        {"", "fail=ActivateAudioInterfaceAsync:80070005", "error: ActivateAudioInterfaceAsync hr=0x80070005\n"},
        {"event:1", "activation=never", "error: audio interface activation timed out\n"},
        {"wait:1", "", "error: audio interface activation timed out\n"},
        {"", "activation=status:88890004", "error: audio client activation failed hr=0x88890004\n"},
        {"", "activation=noclient", "error: audio client activation failed hr=0x00000000\n"},
        {"", "fail=GetActivateResult:80004005", "error: audio client activation failed hr=0x00000000\n"},
        {"event:2", "", "error: CreateEvent failed\n"},
        {"", "fail=Initialize:88890008", "error: IAudioClient::Initialize hr=0x88890008\n"},
        {"", "fail=SetEventHandle:80070057", "error: SetEventHandle hr=0x80070057\n"},
        {"", "fail=GetService:88890004", "error: GetService(IAudioCaptureClient) hr=0x88890004\n"},
        {"mmcss", "fail=Start:88890010", "error: IAudioClient::Start hr=0x88890010\n"},
    };
    for (const Case& c : cases) {
        ChildOptions options = procloop({"--pid", "1234"});
        options.env = {{"STANDIN_FAULTS", c.faults}, {"STANDIN_ENGINE_SCRIPT", c.script}};
        const ChildResult r = runChild(options);
        ASSERT_FALSE(r.timedOut) << c.line;
        EXPECT_EQ(r.exitCode, 1) << c.line << r.err;
        EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("capture stopped"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(HostProcess, ShutdownEndsTheProcessOnceTheHandlerReturns) {
    ChildOptions options = procloop({"--pid", "1234"});
    options.signalWhenErrContains = "capture started";
    options.signal = SIGTERM;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.termSignal, SIGTERM);
    EXPECT_EQ(r.err, head(false));
}

}  // namespace
