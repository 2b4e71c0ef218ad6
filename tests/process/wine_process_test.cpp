// The cross-built Windows binary run under Wine: the same lines and exit codes
// as the host build (arguments included as written, whatever their characters),
// the stream intact through a Windows C runtime, and the whole capture path
// against the fake audio service's DLL.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "fakes/audio/fake_audio.h"
#include "output/wav_header.h"
#include "private_component.h"
#include "tone.h"

namespace {

const std::string kWindowsBuild = PROCLOOP_WINDOWS_BUILD;

// One private Wine prefix for the suite, with a wineserver of its own.
struct WinePrefix : ::testing::Environment {
    void SetUp() override { component = std::make_unique<PrivateComponent>("wine-prefix"); }
    void TearDown() override { component.reset(); }
    static inline std::unique_ptr<PrivateComponent> component;
};

const auto* const kPrefix = ::testing::AddGlobalTestEnvironment(new WinePrefix);
const std::string kPattern = "pattern=40x97;end=error:88890004;period=1";
const std::string kFormat = "info: capture format 48000 Hz 2 ch 32 bit float\r\n";
const std::string kCaptured = kFormat + "info: capture started sampleRate=48000 channels=2\r\ninfo: capture stopped\r\n";

// Without a script, Wine's own audio; with one, the fake service's DLL beside a copy of procloop.exe.
ChildOptions wine(std::vector<std::string> args, const char* script = nullptr) {
    ChildOptions options;
    options.argv = {"wine", "procloop.exe"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    // Wine decodes its Unix arguments with the locale's character set into the
    // wide command line the Windows side sees; UTF-8 makes that exact.
    options.env = WinePrefix::component->env;
    options.env.emplace_back("LC_ALL", "C.UTF-8");
    options.workingDirectory = kWindowsBuild;
    if (script != nullptr) {
        options.workingDirectory += "/engine-run";
        options.env.push_back({"WINEDLLOVERRIDES", "mmdevapi=n,b"});
        options.env.push_back({"STANDIN_ENGINE_SCRIPT", script});
    }
    return options;
}

ChildOptions host(std::vector<std::string> args, const std::string& script = "", const std::string& version = "") {
    ChildOptions options = procloop(args);
    options.env = {{"STANDIN_ENGINE_SCRIPT", script}, {"STANDIN_WINDOWS_VERSION", version}};
    return options;
}

// Standard error from the first line that starts with `from` on ("" when there is none).
std::string tailFrom(const std::string& err, const char* from) {
    const auto at = err.find(from);
    return at == std::string::npos ? "" : err.substr(at);
}

std::string textOf(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class Wine : public ::testing::Test {};

struct EarlyExit {
    const char* name;
    std::vector<std::string> args;
    std::string err;
};
void PrintTo(const EarlyExit& exit, std::ostream* os) { *os << exit.name; }

class WineEarlyExit : public Wine, public ::testing::WithParamInterface<EarlyExit> {};

TEST_P(WineEarlyExit, MatchesTheHostBuildLineForLine) {
    const ChildResult windows = runChild(wine(GetParam().args));
    ASSERT_FALSE(windows.timedOut);
    EXPECT_EQ(windows.exitCode, 1);
    EXPECT_EQ(windows.err, GetParam().err);
    EXPECT_TRUE(windows.out.empty());

    const ChildResult linux = runChild(host(GetParam().args));
    EXPECT_EQ(linux.exitCode, windows.exitCode);
    EXPECT_EQ(linux.err, unixLines(windows.err));
}

// The last three must reach the program as written: a C runtime that builds
// argv in an ANSI code page best-fits them to "--pid", "5" and "-5".
INSTANTIATE_TEST_SUITE_P(
    Arguments, WineEarlyExit,
    ::testing::Values(
        EarlyExit{"NoTarget", {}, "error: --pid <pid> or --hwnd <hwnd> is required\r\n"},
        EarlyExit{"HwndWithoutWindow", {"--hwnd", "77"},
                  "error: could not resolve HWND 000000000000004D to a process id\r\n"},
        EarlyExit{"PidNotANumber", {"--pid", "abc"}, "error: invalid value for --pid: abc\r\n"},
        EarlyExit{"NameOfNoProcess", {"--name", "nosuchprogram"}, "error: no process named nosuchprogram\r\n"},
        EarlyExit{"FullwidthHyphensAreNoOption", {"\uFF0D\uFF0Dpid", "5"},
                  "error: --pid <pid> or --hwnd <hwnd> is required\r\n"},
        EarlyExit{"FullwidthDigitIsNoDigit", {"--pid", "\uFF15"}, "error: invalid value for --pid: \uFF15\r\n"},
        EarlyExit{"MinusSignIsNoHyphen", {"--pid", "\u22125"}, "error: invalid value for --pid: \u22125\r\n"}),
    [](const ::testing::TestParamInfo<EarlyExit>& info) { return std::string(info.param.name); });

TEST_F(Wine, TheStreamArrivesByteForByteAndMatchesTheHostBuild) {
    const std::vector<std::string> args = {"--pid", "4321", "--include-child-processes"};
    const ChildResult windows = runChild(wine(args, kPattern.c_str()));
    ASSERT_FALSE(windows.timedOut);
    EXPECT_EQ(windows.exitCode, 0);
    EXPECT_EQ(windows.out, fakeaudio::patternBytes(0, 40 * 97 * 8));
    EXPECT_EQ(tailFrom(windows.err, "info: capture started"),
              "info: capture started sampleRate=48000 channels=2\r\nwarn: GetNextPacketSize hr=0x88890004\r\n"
              "info: capture stopped\r\n");

    // The host told the version Wine reports ("... version 6.1 build 7601" -> "6.1.7601") says the same.
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(tailFrom(windows.err, "info: windows version").c_str(), "info: windows version %u.%u build %u", &major,
                &minor, &build);
    const std::string version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
    const ChildResult linux = runChild(host(args, kPattern, build != 0 ? version : ""));
    EXPECT_EQ(linux.exitCode, windows.exitCode);
    EXPECT_EQ(linux.out, windows.out);
    EXPECT_EQ(linux.err, unixLines(windows.err));
}

struct WineRun {
    const char* name;
    std::vector<std::string> args;
    const char* script;
    void (*edit)(ChildOptions&);
    int exitCode;
    std::string err;  // from its line of "info: capture format" on
};
void PrintTo(const WineRun& run, std::ostream* os) { *os << run.name; }

class WineCapture : public Wine, public ::testing::WithParamInterface<WineRun> {};

// Every way out of a capture ends it in order with success; a set-up failure reports the service's status.
TEST_P(WineCapture, EndsWithItsLinesAndExitCode) {
    const WineRun& c = GetParam();
    ChildOptions options = wine(c.args, c.script);
    if (c.edit != nullptr) c.edit(options);
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(tailFrom(r.err, "info: capture format"), c.err);
    EXPECT_EQ(r.out.empty(), c.exitCode != 0);
}

INSTANTIATE_TEST_SUITE_P(
    WaysOut, WineCapture,
    ::testing::Values(
        WineRun{"CtrlC", {"--pid", "1234"}, "end=tone",
                [](ChildOptions& o) { o.signalWhenErrContains = "capture started", o.signalAfterOutBytes = 96000; }, 0, kCaptured},
        WineRun{"ReaderGone", {"--pid", "1234"}, "end=tone", [](ChildOptions& o) { o.closeStdoutAfter = 50000; }, 0, kCaptured},
        WineRun{"Duration", {"--pid", "1234", "--duration", "1"}, "end=tone", nullptr, 0, kCaptured},
        WineRun{"SetupFailure", {"--pid", "1234"}, "fail=Initialize:88890008", nullptr, 1,
                kFormat + "error: IAudioClient::Initialize hr=0x88890008\r\n"}),
    [](const ::testing::TestParamInfo<WineRun>& info) { return std::string(info.param.name); });

// The Windows runtime's file type and seek under --wav: a file gets its final
// sizes when the service goes away. Help and version read as on the host.
TEST_F(Wine, AWavFileGetsItsSizesAndRequestsMatchTheHostBuild) {
    const TempDir dir;
    ChildOptions options = wine({"--pid", "4321", "--wav"}, kPattern.c_str());
    options.stdoutPath = dir.path() + "/capture.wav";
    EXPECT_EQ(runChild(options).exitCode, 0);
    std::ifstream file(options.stdoutPath, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    unsigned char header[kWavHeaderMaxBytes];
    std::vector<unsigned char> expected(header, header + buildWavHeader(header, 48000, 2, 40 * 97 * 8));
    const std::vector<unsigned char> samples = fakeaudio::patternBytes(0, 40 * 97 * 8);
    expected.insert(expected.end(), samples.begin(), samples.end());
    EXPECT_EQ(bytes, expected);

    for (const char* request : {"--help", "--version"}) {
        const ChildResult windows = runChild(wine({request, "--pid", "x"}));
        EXPECT_EQ(windows.exitCode + windows.err.size(), 0u);
        EXPECT_EQ(unixLines(textOf(windows.out)), textOf(runChild(host({request, "--pid", "x"})).out));
    }
}

// The session enumeration through COM against the test DLL: procloop.exe's
// own session (Wine's pid), inactive; one of several processes and one of no
// process left out. Then a failed call's line; and Wine's own audio stack,
// which has no playback sessions here.
TEST_F(Wine, ListShowsTheSessionsOrTheFailedCall) {
    const ChildResult r = runChild(wine({"--list"}, "session=self:inactive;session=self:multi;session=4000000:active"));
    const std::string out = textOf(r.out), header = "pid\tstate\texecutable\troot\r\n";
    const std::string pid = out.substr(header.size(), out.find('\t', header.size()) - header.size());
    EXPECT_EQ(out, header + pid + "\tinactive\tprocloop.exe\t" + pid + "\r\n");
    EXPECT_EQ(r.exitCode, 0);
    const ChildResult failed = runChild(wine({"--list"}, "session=self:active;fail=IAudioSessionControl2::GetProcessId:88890004"));
    EXPECT_EQ(failed.err, "error: IAudioSessionControl2::GetProcessId hr=0x88890004\r\n");
    EXPECT_EQ(failed.exitCode, 1);
    const ChildResult own = runChild(wine({"--list"}));
    EXPECT_EQ(textOf(own.out), header);
    EXPECT_EQ(own.exitCode, 0);
    for (const char* line : {"\ninfo:", "\nwarn:", "\nerror:"}) {
        EXPECT_EQ(("\n" + own.err).find(line), std::string::npos) << own.err;  // Wine's own lines aside
    }
}

// The Windows build's own unit tests, against the real C runtime and SDK types.
TEST_F(Wine, TheWindowsUnitTestsPass) {
    ChildOptions options = wine({});
    options.argv = {"wine", kWindowsBuild + "/tests/windows_unit_tests.exe"};
    const ChildResult r = runChild(options);
    EXPECT_EQ(r.exitCode, 0) << textOf(r.out);
    EXPECT_NE(textOf(r.out).find("[  PASSED  ]"), std::string::npos) << textOf(r.out);
}

// Locked to the clock: a scripted second of silence is a second of zeros in a
// run of exactly two seconds; a reader that stalls a second finds zeros where
// the service dropped audio, and the rest in its place.
TEST_F(Wine, ContinuousKeepsTimeThroughASilenceAndAStalledReader) {
    fakeaudio::Script script;
    ASSERT_TRUE(fakeaudio::parseScript("silence=500:1000", script));
    const ChildResult silence =
        runChild(wine({"--pid", "1234", "--include-child-processes", "--continuous", "--duration", "2"}, "silence=500:1000"));
    EXPECT_EQ(silence.exitCode, 0);
    EXPECT_EQ(tailFrom(silence.err, "info: capture format"), kCaptured);
    EXPECT_EQ(silence.out.size(), 2u * 48000 * 8);
    const ToneFrames quiet = toneFrames(silence.out, script, false, 1e-6f);
    EXPECT_EQ(quiet.lost + quiet.wrong, 0u);

    ChildOptions stalled = wine({"--pid", "1234", "--include-child-processes", "--continuous"}, "end=tone");
    bool slept = false;
    stalled.onProgress = [&slept](pid_t, const ChildResult& soFar) {
        if (!slept && soFar.out.size() > 48000 * 8 / 2) slept = true, std::this_thread::sleep_for(std::chrono::seconds(1));
    };
    stalled.signalWhenErrContains = "capture started";
    stalled.signalAfterOutBytes = 2 * 48000 * 8;
    const ChildResult r = runChild(stalled);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(tailFrom(r.err, "info: capture format"), kCaptured);
    // The pipe and the service's 200 ms buffer hold some of that second.
    const ToneFrames stall = toneFrames(r.out, fakeaudio::Script{}, false, 1e-6f);
    EXPECT_EQ(stall.wrong, 0u);
    EXPECT_GT(stall.lost, 48000u / 4);
}

// A Windows process of the prefix that lives a few seconds, found by name.
TEST_F(Wine, StopWithTargetEndsWithTheTarget) {
    ChildOptions ping = wine({});
    ping.argv = {"wine", "ping", "-n", "8", "127.0.0.1"};
    const TempDir dir;
    const pid_t target = spawnProcess(ping.argv, ping.env, dir.path() + "/ping.log");
    ChildResult r;  // until ping.exe has started
    for (int i = 0; i < 20 && (i == 0 || r.err.find("no process named") != std::string::npos); ++i) {
        r = runChild(wine({"--name", "ping", "--include-child-processes", "--stop-with-target"}, "end=tone"));
    }
    stopProcess(target);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(tailFrom(r.err, "info: capture started"),
              "info: capture started sampleRate=48000 channels=2\r\ninfo: target process exited\r\ninfo: capture stopped\r\n");
    EXPECT_FALSE(r.out.empty());
}

}  // namespace
