// The cross-built Windows binary run under Wine: the same lines and exit codes
// as the host build (arguments included as written, whatever their characters),
// the stream intact through a Windows C runtime, and the whole capture path
// against the fake audio service's DLL.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "fakes/audio/fake_audio.h"
#include "private_component.h"
#include "tone.h"

namespace {

const std::string kWindowsBuild = PROCLOOP_WINDOWS_BUILD;

// One private Wine prefix for the suite, with a wineserver of its own, stopped as the test binary exits.
const PrivateComponent& prefix() {
    static const PrivateComponent component("wine-prefix");
    return component;
}

const char* const kPattern = "pattern=40x97;end=error:88890004;period=1";
const std::string kFormat = "info: capture format 48000 Hz 2 ch 32 bit float\r\n";
const std::string kStarted = kFormat + "info: capture started sampleRate=48000 channels=2\r\n";
const std::string kCaptured = kStarted + "info: capture stopped\r\n";
const std::string kPatternEnds = kStarted + "warn: GetNextPacketSize hr=0x88890004\r\ninfo: capture stopped\r\n";

// The fake service's DLL beside a copy of procloop.exe, playing `script`.
ChildOptions wine(std::vector<std::string> args, const std::string& script = "") {
    ChildOptions options;
    options.argv = {"wine", "procloop.exe"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = prefix().env;
    options.env.insert(options.env.end(), {{"WINEDLLOVERRIDES", "mmdevapi=n,b"}, {"STANDIN_ENGINE_SCRIPT", script}});
    options.workingDirectory = kWindowsBuild + "/engine-run";
    return options;
}

// Standard error from the first line that starts with `from` on ("" when there is none).
std::string tailFrom(const std::string& err, const std::string& from) {
    return err.substr(std::min(err.find(from), err.size()));
}

// "\r\n" -> "\n", to compare a Windows binary's text-mode lines with the host's.
std::string unixLines(const std::string& text) { return std::regex_replace(text, std::regex("\r\n"), "\n"); }
std::string textOf(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct WineRun {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string err;                      // standard error from its first line on
    std::string script = "";              // the fake service's; none for runs that end before the audio
    std::size_t bytes = 0;                // exactly this much output (0: any)
    std::size_t ctrlCAfter = 0;           // Ctrl+C once this much arrived (0: never)
    std::size_t closeAfter = SIZE_MAX;    // the reader goes away after this much
};
void PrintTo(const WineRun& run, std::ostream* os) { *os << run.name; }

class Wine : public ::testing::TestWithParam<WineRun> {
protected:
    // Runs it, with the row's Ctrl+C or reader; with --wav, to a file, which its output is read back from.
    static ChildResult run(ChildOptions o) {
        o.onProgress = [sent = false, after = GetParam().ctrlCAfter](pid_t pid, const ChildResult& soFar) mutable {
            if (!sent && after != 0 && soFar.out.size() >= after) sent = ::kill(pid, SIGINT) == 0;
        };
        o.closeStdoutAfter = GetParam().closeAfter;
        const auto& args = GetParam().args;
        o.stdoutPath = std::count(args.begin(), args.end(), "--wav") ? prefix().dir + "/out.wav" : "";
        ChildResult r = runChild(o);
        std::ifstream file(o.stdoutPath, std::ios::binary);
        r.out.insert(r.out.end(), std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        return r;
    }
};

// Each run ends with its lines (CRLF) and exit code, and the host build, told
// the Windows version Wine reports ("... version 6.1 build 7601" -> "6.1.7601"),
// says the same. Text output reads as the host's; a pattern arrives byte for
// byte as it does there, the tone sample for sample (within another C
// runtime's sine) with no audio lost.
TEST_P(Wine, EndsAsTheHostBuildDoes) {
    const WineRun& c = GetParam();
    const ChildResult windows = run(wine(c.args, c.script));
    ASSERT_FALSE(windows.timedOut);
    EXPECT_EQ(windows.exitCode, c.exitCode);
    EXPECT_EQ(tailFrom(windows.err, c.err.substr(0, c.err.find('\n'))), c.err);
    EXPECT_EQ(windows.out.empty(), c.exitCode != 0);
    EXPECT_TRUE(c.bytes == 0 || windows.out.size() == c.bytes) << windows.out.size();
    fakeaudio::Script script;
    ASSERT_TRUE(fakeaudio::parseScript(c.script, script));
    const bool pattern = !script.bursts.empty(), tone = !c.script.empty() && !pattern;
    const bool continuous = std::count(c.args.begin(), c.args.end(), "--continuous") != 0;
    const ToneFrames frames = toneFrames(tone ? windows.out : std::vector<unsigned char>{}, script, !continuous, 1e-6f);
    EXPECT_EQ(frames.lost + frames.wrong, 0u);

    std::smatch v;
    std::regex_search(windows.err, v, std::regex("info: windows version (\\d+\\.\\d+) build (\\d+)"));
    const std::string version = v.empty() ? "" : v.str(1) + "." + v.str(2);
    const ChildResult linux =
        run(procloop(c.args, {{"STANDIN_ENGINE_SCRIPT", c.script}, {"STANDIN_WINDOWS_VERSION", version}}));
    EXPECT_EQ(linux.exitCode, windows.exitCode);
    EXPECT_EQ(linux.err, unixLines(windows.err));
    if (!tone) {
        EXPECT_EQ(textOf(linux.out), pattern ? textOf(windows.out) : unixLines(textOf(windows.out)));
    }
}

// The three Unicode ones must reach the program as written: a C runtime that
// builds argv in an ANSI code page best-fits them to "--pid", "5" and "-5".
INSTANTIATE_TEST_SUITE_P(
    Runs, Wine,
    ::testing::Values(
        WineRun{"NoTarget", {}, 1, "error: --pid <pid> or --hwnd <hwnd> is required\r\n"},
        WineRun{"HwndWithoutWindow", {"--hwnd", "77"}, 1,
                "error: could not resolve HWND 000000000000004D to a process id\r\n"},
        WineRun{"PidNotANumber", {"--pid", "abc"}, 1, "error: invalid value for --pid: abc\r\n"},
        WineRun{"NameOfNoProcess", {"--name", "nosuchprogram"}, 1, "error: no process named nosuchprogram\r\n"},
        WineRun{"FullwidthHyphensAreNoOption", {"\uFF0D\uFF0Dpid", "5"}, 1,
                "error: --pid <pid> or --hwnd <hwnd> is required\r\n"},
        WineRun{"FullwidthDigitIsNoDigit", {"--pid", "\uFF15"}, 1, "error: invalid value for --pid: \uFF15\r\n"},
        WineRun{"MinusSignIsNoHyphen", {"--pid", "\u22125"}, 1, "error: invalid value for --pid: \u22125\r\n"},
        WineRun{"Help", {"--help", "--pid", "x"}, 0, ""},
        WineRun{"Version", {"--version", "--pid", "x"}, 0, ""},
        // The session enumeration's failed call through COM against the test DLL.
        WineRun{"ListCallFails", {"--list"}, 1, "error: IAudioSessionControl2::GetProcessId hr=0x88890004\r\n",
                "session=self:active;fail=IAudioSessionControl2::GetProcessId:88890004"},
        WineRun{"Pattern", {"--pid", "4321", "--include-child-processes"}, 0, kPatternEnds, kPattern},
        // The Windows runtime's file type and seek: a file gets its final sizes when the service goes away.
        WineRun{"Wav", {"--pid", "4321", "--wav"}, 0, kPatternEnds, kPattern},
        // Every way out of a capture ends it in order with success.
        WineRun{"CtrlC", {"--pid", "1234", "--include-child-processes"}, 0, kCaptured, "end=tone", 0, 96000},
        WineRun{"ReaderGone", {"--pid", "1234", "--include-child-processes"}, 0, kCaptured, "end=tone", 0, 0, 50000},
        WineRun{"Duration", {"--pid", "1234", "--include-child-processes", "--duration", "1"}, 0, kCaptured, "end=tone"},
        WineRun{"SetupFailure", {"--pid", "1234"}, 1, kFormat + "error: IAudioClient::Initialize hr=0x88890008\r\n",
                "fail=Initialize:88890008"},
        // Locked to the clock: a scripted second of silence is a second of zeros in a run of exactly two seconds.
        WineRun{"ContinuousThroughASilence", {"--pid", "1234", "--include-child-processes", "--continuous", "--duration", "2"},
                0, kCaptured, "silence=500:1000", 2 * 48000 * 8}),
    [](const ::testing::TestParamInfo<WineRun>& info) { return std::string(info.param.name); });

// The Windows build's own unit tests, against the real C runtime and SDK types: 0 is their exit code if all pass.
TEST(WineUnitTests, Pass) {
    EXPECT_NO_THROW(outputOf({"wine", kWindowsBuild + "/tests/windows_unit_tests.exe"}, wine({}).env));
}

// A Windows process of the prefix that lives a few seconds, found by name.
TEST(WineStopWithTarget, EndsWithTheTarget) {
    const pid_t target =
        spawnProcess({"wine", "ping", "-n", "8", "127.0.0.1"}, wine({}).env, prefix().dir + "/ping.log");
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
