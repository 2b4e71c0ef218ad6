// The capture set-up and teardown, run for real through the run sequence
// against the scripted engine.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/stop_signal.h"
#include "platform/posix/control.h"
#include "run_harness.h"

namespace {

constexpr const char* kTarget = "info: pid=1234 includeChildren=false\n";
constexpr const char* kFormat = "info: capture format 48000 Hz 2 ch 32 bit float\n";
constexpr const char* kStarted = "info: capture started sampleRate=48000 channels=2\n";

// The teardown as the journal saw it: each object appears when the program
// let go of its last reference. The audio client is left out: the handler
// holds one reference to it until the platform's completion thread lets go of
// the handler, so when its last reference goes is the platform's timing.
// Whether it went before COM did is checked on its own.
std::vector<std::string> teardownOf(const std::vector<std::string>& journal) {
    return entriesStartingWith(journal, {"IAudioClient::Stop", "AvRevert", "CloseHandle #2", "IAudioCaptureClient released",
                                         "IActivateAudioInterfaceAsyncOperation released", "CoUninitialize"});
}

bool clientReleasedBeforeCom(const std::vector<std::string>& journal) {
    const auto released = std::find(journal.begin(), journal.end(), "IAudioClient released");
    const auto uninitialized = std::find(journal.begin(), journal.end(), "CoUninitialize held=0");
    return released < uninitialized && uninitialized != journal.end();
}

bool contains(const std::vector<std::string>& journal, const std::string& entry) {
    return std::find(journal.begin(), journal.end(), entry) != journal.end();
}

class RunCapture : public RunTest {
protected:
    void expectBalanced(const RunResult& r) {
        EXPECT_EQ(r.liveObjects, 0u) << "engine objects leaked";
        EXPECT_EQ(r.openEvents, 0u) << "events left open; the handler's among them means it was never freed";
    }
};

TEST_F(RunCapture, EachFailingSetupStepPrintsOneLineAndTearsDownWhatExists) {
    using Setup = std::function<void(engine::Script&)>;
    struct Case {
        const char* label;
        Setup setup;
        std::string err;
        std::vector<std::string> teardown;
    };
    const auto fault = [](engine::Call call, HRESULT status) {
        return [=](engine::Script& s) { s.fault(call) = {1, status}; };
    };
    const std::vector<std::string> afterActivation = {"CloseHandle #2", "IActivateAudioInterfaceAsyncOperation released",
                                                      "CoUninitialize held=0"};
    const std::vector<std::string> beforeClient = {"IActivateAudioInterfaceAsyncOperation released",
                                                   "CoUninitialize held=0"};
    const std::string activated = std::string(kTarget) + kFormat;
    const Case cases[] = {
        {"COM", [](engine::Script&) { standin::failCoInitialize(RPC_E_CHANGED_MODE); },
         std::string(kTarget) + "error: CoInitializeEx failed hr=0x80010106\n", {}},
        {"activation call", fault(engine::Call::ActivateAudioInterfaceAsync, static_cast<HRESULT>(0x80070005)),
         std::string(kTarget) + "error: ActivateAudioInterfaceAsync hr=0x80070005\n", {"CoUninitialize held=0"}},
        // These three never see a completion, so that no late client muddles
        // the order; the engine lets go of the handler after the run.
        {"handler event", [](engine::Script& s) { s.completion = engine::Completion::Never; standin::failCreateEvent(1); },
         std::string(kTarget) + "error: audio interface activation timed out\n", beforeClient},
        {"wait fails", [](engine::Script& s) { s.completion = engine::Completion::Never; standin::failWait(1, WAIT_FAILED); },
         std::string(kTarget) + "error: audio interface activation timed out\n", beforeClient},
        {"wait abandoned",
         [](engine::Script& s) {
             s.completion = engine::Completion::Never;
             standin::failWait(1, WAIT_ABANDONED);
         },
         std::string(kTarget) + "error: audio interface activation timed out\n", beforeClient},
        {"activation status", [](engine::Script& s) { s.activationStatus = AUDCLNT_E_DEVICE_INVALIDATED; },
         std::string(kTarget) + "error: audio client activation failed hr=0x88890004\n", beforeClient},
        {"not an audio client", [](engine::Script& s) { s.activatesNonAudio = true; },
         std::string(kTarget) + "error: audio client activation failed hr=0x00000000\n", beforeClient},
        {"result unreadable", fault(engine::Call::GetActivateResult, E_FAIL),
         std::string(kTarget) + "error: audio client activation failed hr=0x00000000\n", beforeClient},
        {"capture event", [](engine::Script&) { standin::failCreateEvent(2); }, activated + "error: CreateEvent failed\n",
         beforeClient},
        {"initialize", fault(engine::Call::Initialize, AUDCLNT_E_UNSUPPORTED_FORMAT),
         activated + "error: IAudioClient::Initialize hr=0x88890008\n", afterActivation},
        {"event handle", fault(engine::Call::SetEventHandle, E_INVALIDARG),
         activated + "error: SetEventHandle hr=0x80070057\n", afterActivation},
        {"capture client", fault(engine::Call::GetService, AUDCLNT_E_DEVICE_INVALIDATED),
         activated + "error: GetService(IAudioCaptureClient) hr=0x88890004\n", afterActivation},
        {"start", fault(engine::Call::Start, AUDCLNT_E_SERVICE_NOT_RUNNING),
         activated + "error: IAudioClient::Start hr=0x88890010\n",
         {"AvRevertMmThreadCharacteristics", "CloseHandle #2", "IAudioCaptureClient released",
          "IActivateAudioInterfaceAsyncOperation released", "CoUninitialize held=0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SetUp();
        engine::Script script = scriptOf({});
        c.setup(script);
        engine::load(script);
        const RunResult r = run({"--pid", "1234"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(teardownOf(r.journal), c.teardown);
        const bool clientMade = c.err.find("capture format") != std::string::npos;
        if (clientMade) {
            EXPECT_TRUE(clientReleasedBeforeCom(r.journal));
        }
        EXPECT_EQ(r.liveObjects, 0u);
        EXPECT_EQ(r.openEvents, 0u);
        EXPECT_FALSE(standin::comInitialized());
    }
}

TEST_F(RunCapture, ASuccessfulRunRequestsTheStreamAndTearsDownInOrder) {
    engine::load(scriptOf({{floatPacket({0.5f, -0.5f}, 2)}}));
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string(kTarget) + kFormat + kStarted + "warn: GetNextPacketSize hr=0x88890004\n" +
                         "info: capture stopped\n");
    EXPECT_EQ(r.out, bytesOf({0.5f, -0.5f}));

    EXPECT_EQ(entriesStartingWith(r.journal, {"CoInitializeEx", "ActivateAudioInterfaceAsync", "IAudioClient::Initialize",
                                              "IAudioClient::SetEventHandle", "IAudioClient::GetService",
                                              "AvSetMmThreadCharacteristicsW", "IAudioClient::Start"}),
              (std::vector<std::string>{
                  "CoInitializeEx null multithreaded",
                  "ActivateAudioInterfaceAsync path=VAD\\Process_Loopback iid=IAudioClient blob=12 type=1 pid=1234 mode=1",
                  "IAudioClient::Initialize share=0 flags=0x80060000 duration=2000000 period=0 "
                  "format=3/2/48000/384000/8/32/0 session=null",
                  "IAudioClient::SetEventHandle event",
                  "IAudioClient::GetService IAudioCaptureClient",
                  "AvSetMmThreadCharacteristicsW Audio index=0",
                  "IAudioClient::Start",
              }));
    EXPECT_TRUE(contains(r.journal, "CreateEventW auto -> #2"));
    EXPECT_EQ(teardownOf(r.journal),
              (std::vector<std::string>{"IAudioClient::Stop", "AvRevertMmThreadCharacteristics", "CloseHandle #2",
                                        "IAudioCaptureClient released", "IActivateAudioInterfaceAsyncOperation released",
                                        "CoUninitialize held=0"}));
    EXPECT_TRUE(clientReleasedBeforeCom(r.journal));
    expectBalanced(r);
}

TEST_F(RunCapture, RequestsTheFormatAndModeItWasGiven) {
    engine::load(scriptOf({}));
    const RunResult r = run({"--pid", "77", "--channels", "8", "--sample-rate", "192000", "--include-child-processes"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string("info: pid=77 includeChildren=true\n") +
                         "info: capture format 192000 Hz 8 ch 32 bit float\n" +
                         "info: capture started sampleRate=192000 channels=8\n" +
                         "warn: GetNextPacketSize hr=0x88890004\n" + "info: capture stopped\n");
    EXPECT_TRUE(contains(r.journal,
                         "ActivateAudioInterfaceAsync path=VAD\\Process_Loopback iid=IAudioClient blob=12 type=1 "
                         "pid=77 mode=0"));
    EXPECT_TRUE(contains(r.journal, "IAudioClient::Initialize share=0 flags=0x80060000 duration=2000000 period=0 "
                                    "format=3/8/192000/6144000/32/32/0 session=null"));
}

TEST_F(RunCapture, ASchedulerRefusalIsAcceptedSilently) {
    standin::failMmcss();
    engine::load(scriptOf({}));
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string(kTarget) + kFormat + kStarted + "warn: GetNextPacketSize hr=0x88890004\n" +
                         "info: capture stopped\n");
    EXPECT_TRUE(entriesStartingWith(r.journal, {"AvRevert"}).empty());
    expectBalanced(r);
}

TEST_F(RunCapture, AStopRequestedDuringSetupEndsCleanlyWithNoSamples) {
    engine::Script script = scriptOf({{floatPacket({1.0f, 1.0f}, 2)}});
    engine::load(script);
    stopRequested.store(true);
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string(kTarget) + kFormat + kStarted + "info: capture stopped\n");
    EXPECT_TRUE(r.out.empty());
    expectBalanced(r);
}

// The one test that waits out the whole activation time-out.
TEST_F(RunCapture, ALateCompletionTimesOutAndStillFreesTheHandler) {
    engine::Script script = scriptOf({});
    script.completion = engine::Completion::Late;
    script.completionDelayMs = 8600;
    engine::load(script);
    awaitLateCompletion_ = true;
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, std::string(kTarget) + "error: audio interface activation timed out\n");
    // The program had let go of everything before COM went away; the completion
    // then arrived in the still-live handler, and the platform's release freed it.
    EXPECT_EQ(teardownOf(r.journal),
              (std::vector<std::string>{"IActivateAudioInterfaceAsyncOperation released", "CoUninitialize held=0"}));
    // The client the late completion handed the handler went with the handler.
    EXPECT_FALSE(clientReleasedBeforeCom(r.journal));
    EXPECT_TRUE(contains(r.journal, "IAudioClient released"));
    const auto completed = std::find(r.journal.begin(), r.journal.end(), "ActivateCompleted");
    const auto uninitialized = std::find(r.journal.begin(), r.journal.end(), "CoUninitialize held=0");
    EXPECT_TRUE(completed != r.journal.end() && completed > uninitialized);
    EXPECT_EQ(r.stats.lastHandlerRelease, 0);
    expectBalanced(r);
}

}  // namespace
