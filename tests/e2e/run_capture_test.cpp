// The run sequence up to the capture, the capture's set-up and teardown, and
// --list, run for real against the fake audio service.
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "run_harness.h"

namespace {

const std::string kTarget = "info: pid=1234 includeChildren=false\n";
const std::string kActivated = kTarget + "info: capture format 48000 Hz 2 ch 32 bit float\n";
const std::string kRunTail = std::string("warn: GetNextPacketSize hr=0x88890004\n") + kStopped;
constexpr const char* kOperation = "IActivateAudioInterfaceAsyncOperation released";
constexpr const char* kComGone = "CoUninitialize";

std::vector<std::string> entriesStartingWith(const std::vector<std::string>& journal,
                                             std::initializer_list<const char*> prefixes) {
    std::vector<std::string> kept;
    std::copy_if(journal.begin(), journal.end(), std::back_inserter(kept), [&](const std::string& entry) {
        return std::any_of(prefixes.begin(), prefixes.end(), [&](const char* prefix) { return entry.rfind(prefix, 0) == 0; });
    });
    return kept;
}

// The teardown as the journal saw it: each object appears when the program let
// go of its last reference. The audio client is left out: the handler holds a
// reference to it until the platform's completion thread lets go of the
// handler, so when its last reference goes is the platform's timing. Whether it
// went before COM did is checked on its own.
std::vector<std::string> teardownOf(const RunResult& r) {
    return entriesStartingWith(r.journal, {"IAudioClient::Stop", "AvRevert", "CloseHandle #2", "IAudioCaptureClient released",
                                           kOperation, "CoUninitialize"});
}

struct Case {
    std::string name;
    std::string script;  // after kQuick; {self}: the test's pid
    std::string err;
    std::vector<std::string> teardown;
    std::string activation = "", initialize = "";  // a run that gets through set-up: what it asked for
    std::vector<const char*> args = {"--pid", "1234"};
    std::string out = "";                           // on standard output, {self} as in the script
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string withPid(std::string text) {
    const std::string pid = std::to_string(::getpid());
    for (auto at = text.find("{self}"); at != std::string::npos; at = text.find("{self}")) text.replace(at, 6, pid);
    return text;
}

class Run : public RunTest, public ::testing::WithParamInterface<Case> {};

// A failed step: its one line, exit code 1. Through set-up: the stream asked for,
// the activation awaited for the documented 8 s. --list: the table on standard
// output. Whatever exists is torn down in order.
TEST_P(Run, SaysWhatItGotAndTearsDownWhatExists) {
    const Case& c = GetParam();
    ::setenv("DISPLAY", "", 1);  // no X server: no window resolves
    loadScript(withPid(kQuick + c.script));
    DWORD activationWaitMs = 0;
    fakeplatform::controls().onWait = [&](unsigned nth, DWORD ms) {
        if (nth == 1) activationWaitMs = ms;
    };
    ::testing::internal::CaptureStdout();
    const RunResult r = run(c.args);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.exitCode, c.err.find("error:") == std::string::npos ? 0 : 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(out, withPid(c.out));
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(teardownOf(r), c.teardown);
    if (c.err.find("capture format") != std::string::npos) {  // the client went before COM did
        const auto at = [&r](const char* entry) { return std::find(r.journal.begin(), r.journal.end(), entry); };
        EXPECT_LT(at("IAudioClient released"), at(kComGone));
    }
    if (!c.activation.empty()) {
        EXPECT_EQ(activationWaitMs, 8000u);
        EXPECT_EQ(entriesStartingWith(r.journal, {"CoInitializeEx", "ActivateAudioInterfaceAsync", "IAudioClient::",
                                                  "AvSetMmThreadCharacteristicsW", "CreateEventW"}),
                  (std::vector<std::string>{"CoInitializeEx null multithreaded", "CreateEventW manual #1", c.activation,
                                            "CreateEventW auto #2", c.initialize, "IAudioClient::SetEventHandle",
                                            "IAudioClient::GetService", "AvSetMmThreadCharacteristicsW Audio index=0",
                                            "IAudioClient::Start", "IAudioClient::Stop"}));
    }
}

const std::string kTimedOut = kTarget + "error: audio interface activation timed out\n";
const std::string kNoCom = "error: CoInitializeEx failed hr=0x80010106\n";
const std::vector<std::string> kBeforeClient = {kOperation, kComGone};
const std::vector<std::string> kAfterActivation = {"CloseHandle #2", kOperation, kComGone};
constexpr const char* kDefaultActivation = "ActivateAudioInterfaceAsync pid=1234 mode=1";
const std::string kDefaultInitialize =
    "IAudioClient::Initialize share=0 flags=0x80060000 duration=2000000 period=0 format=3/2/48000/384000/8/32/0 session=null";
const std::vector<std::string> kFullTeardown = {"IAudioClient::Stop", "AvRevertMmThreadCharacteristics", "CloseHandle #2",
                                                "IAudioCaptureClient released", kOperation, kComGone};
const std::string kHeader = "pid\tstate\texecutable\troot\n";
Case listing(std::string name, std::string script, std::string err, std::string out = "") {
    return {std::move(name), std::move(script), std::move(err), {kComGone}, "", "", {"--list"}, std::move(out)};
}
Case listFails(const std::string& call, const std::string& status) {
    std::string name = "List" + call;
    name.erase(std::remove(name.begin(), name.end(), ':'), name.end());
    return listing(name, "session=self:active;fail=" + call + ":" + status, "error: " + call + " hr=0x" + status + "\n");
}
const Case kRuns[] = {
    // The completion comes late, well within the 8 s the program waits for it.
    {"Defaults", "activation=300", captureHead() + kRunTail, kFullTeardown, kDefaultActivation, kDefaultInitialize},
    {"TreeAtEightChannels", "activation=300", captureHead(77, true, 8, 192000) + kRunTail, kFullTeardown,
     "ActivateAudioInterfaceAsync pid=77 mode=0",
     "IAudioClient::Initialize share=0 flags=0x80060000 duration=2000000 period=0 format=3/8/192000/6144000/32/32/0 session=null",
     {"--pid", "77", "--channels", "8", "--sample-rate", "192000", "--include-child-processes"}},
    // Without the scheduler's boost capture goes on: no line, nothing to revert.
    {"SchedulerRefuses", "activation=300;mmcss=refused", captureHead() + kRunTail,
     {"IAudioClient::Stop", "CloseHandle #2", "IAudioCaptureClient released", kOperation, kComGone}, kDefaultActivation,
     kDefaultInitialize},
    {"Com", "coinit=80010106", kTarget + kNoCom, {}},
    {"ActivationCall", "fail=ActivateAudioInterfaceAsync:80070005",
     kTarget + "error: ActivateAudioInterfaceAsync hr=0x80070005\n", {kComGone}},
    {"HandlerEvent", "event=1", kTimedOut, kBeforeClient},
    {"WaitFails", "wait=1", kTimedOut, kBeforeClient},
    // The wait reports its time-out at once, as after its 8 s; the completion comes
    // later, into a handler the program no longer holds.
    {"CompletionAfterTheTimeOut", "activation=300;timeout=1", kTimedOut, kBeforeClient},
    {"ActivationStatus", "status=88890004", kTarget + "error: audio client activation failed hr=0x88890004\n",
     kBeforeClient},
    {"ResultUnreadable", "fail=GetActivateResult:80004005", kTarget + "error: audio client activation failed hr=0x00000000\n",
     kBeforeClient},
    {"CaptureEvent", "event=2", kActivated + "error: CreateEvent failed\n", kBeforeClient},
    {"Initialize", "fail=Initialize:88890008", kActivated + "error: IAudioClient::Initialize hr=0x88890008\n", kAfterActivation},
    {"EventHandle", "fail=SetEventHandle:80070057", kActivated + "error: SetEventHandle hr=0x80070057\n", kAfterActivation},
    {"CaptureClient", "fail=GetService:88890004", kActivated + "error: GetService(IAudioCaptureClient) hr=0x88890004\n",
     kAfterActivation},
    {"Start", "fail=Start:88890010", kActivated + "error: IAudioClient::Start hr=0x88890010\n",
     {kFullTeardown.begin() + 1, kFullTeardown.end()}},
    // The run sequence up to the set-up: which target wins, and the Windows version's lines.
    // The first build with process loopback passes without a warning.
    {"PidWinsOverAnUnknownWindow", "coinit=80010106;windows=10.0.20348",
     "info: pid=17 includeChildren=true\ninfo: windows version 10.0 build 20348\n" + kNoCom, {}, "", "",
     {"--hwnd", "77", "--pid", "17", "--include-child-processes"}},
    // A pid, then a window, win over a name, which is then not looked up.
    {"PidWinsOverAName", "coinit=80010106", "info: pid=17 includeChildren=false\n" + kNoCom, {}, "", "",
     {"--name", "sleep", "--pid", "17"}},
    {"WindowWinsOverAName", "", "error: could not resolve HWND 000000000000004D to a process id\n", {}, "", "",
     {"--hwnd", "77", "--name", "sleep"}},
    {"LargestWindow", "", "error: could not resolve HWND FFFFFFFFFFFFFFFF to a process id\n", {}, "", "",
     {"--hwnd", "18446744073709551615"}},
    {"OlderBuildWarns", "coinit=80010106;windows=10.0.19045",
     kTarget + "info: windows version 10.0 build 19045\n" +
         "warn: process loopback capture requires Windows build 20348 or later\n" + kNoCom, {}},
    // --list: the sessions' owners, or the call that failed.
    listing("ListActiveMultiSkipped", "session=self:active;session=self:multi", "", kHeader + "{self}\tactive\te2e_tests\t{self}\n"),
    listing("ListInactiveNoProcessSkipped", "session=self:inactive;session=4194305:active", "",
            kHeader + "{self}\tinactive\te2e_tests\t{self}\n"),
    listing("ListNoSessions", "", "", kHeader), listFails("CoCreateInstance", "80040154"),
    listFails("IMMDeviceEnumerator::EnumAudioEndpoints", "88890010"), listFails("IMMDeviceCollection::GetCount", "80004005"),
    listFails("IMMDeviceCollection::Item", "80070057"), listFails("IMMDevice::Activate", "80070005"),
    listFails("IAudioSessionManager2::GetSessionEnumerator", "8007000E"),
    listFails("IAudioSessionEnumerator::GetCount", "80004005"), listFails("IAudioSessionEnumerator::GetSession", "80070057"),
    listFails("IAudioSessionControl::QueryInterface", "80004002"),
    listFails("IAudioSessionControl2::GetProcessId", "88890004"), listFails("IAudioSessionControl::GetState", "88890004"),
};
INSTANTIATE_TEST_SUITE_P(All, Run, ::testing::ValuesIn(kRuns), [](const auto& info) { return info.param.name; });

}  // namespace
