// The cross-built Windows binary run under Wine: the same lines and exit codes
// as the host build, the stream intact through a Windows C runtime, and the
// whole capture path against the stand-in engine DLL.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "fakes/audio/fake_audio.h"

namespace {

const std::string kWindowsBuild = PROCLOOP_WINDOWS_BUILD;
const std::string kPrefix = PROCLOOP_WINE_PREFIX;

enum class Audio { Wine, StandIn };

ChildOptions wine(Audio audio, std::vector<std::string> args, std::string script = "") {
    ChildOptions options;
    options.argv = {"wine", "procloop.exe"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = {{"WINEPREFIX", kPrefix}, {"WINEDEBUG", "-all"}};
    if (audio == Audio::StandIn) {
        options.workingDirectory = kWindowsBuild + "/engine-run";
        options.env.push_back({"WINEDLLOVERRIDES", "mmdevapi=n,b"});
        options.env.push_back({"STANDIN_ENGINE_SCRIPT", script});
    } else {
        options.workingDirectory = kWindowsBuild;
    }
    return options;
}

ChildOptions host(std::vector<std::string> args, std::string script = "", std::string windowsVersion = "") {
    ChildOptions options;
    options.argv = {PROCLOOP_HOST_BINARY};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    if (!script.empty()) options.env.push_back({"STANDIN_ENGINE_SCRIPT", script});
    if (!windowsVersion.empty()) options.env.push_back({"STANDIN_WINDOWS_VERSION", windowsVersion});
    return options;
}

::testing::AssertionResult endsWith(const std::string& text, const std::string& tail) {
    if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "standard error:\n" << text << "\ndoes not end with:\n" << tail;
}

class Wine : public ::testing::Test {
protected:
    // One wineserver for the suite, so no run waits for it to start or finish,
    // and so it never holds a test's pipes open.
    static void SetUpTestSuite() {
        const std::string env = "WINEPREFIX='" + kPrefix + "' WINEDEBUG=-all ";
        ASSERT_EQ(std::system(("mkdir -p '" + kPrefix + "'").c_str()), 0);
        ASSERT_EQ(std::system((env + "wineserver -p </dev/null >/dev/null 2>&1").c_str()), 0);
        ASSERT_EQ(std::system((env + "wineboot -i </dev/null >/dev/null 2>&1").c_str()), 0);
    }
    static void TearDownTestSuite() {
        std::system(("WINEPREFIX='" + kPrefix + "' wineserver -k </dev/null >/dev/null 2>&1").c_str());
    }

    // "info: windows version 6.1 build 7601" -> "6.1.7601", for the host to report the same.
    static std::string versionOf(const std::string& err) {
        unsigned major = 0, minor = 0, build = 0;
        const auto at = err.find("info: windows version ");
        if (at == std::string::npos ||
            std::sscanf(err.c_str() + at, "info: windows version %u.%u build %u", &major, &minor, &build) != 3) {
            return "";
        }
        return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
    }
};

TEST_F(Wine, EarlyExitsMatchTheHostBuildLineForLine) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{}, "error: --pid <pid> or --hwnd <hwnd> is required\r\n"},
        {{"--hwnd", "0x1A2B"}, "error: --pid <pid> or --hwnd <hwnd> is required\r\n"},
        {{"--hwnd", "77"}, "error: could not resolve HWND 000000000000004D to a process id\r\n"},
        {{"--pid", "abc"}, "error: invalid value for --pid: abc\r\n"},
        {{"--pid", "1", "--sample-rate", "2147483648"}, "error: invalid value for --sample-rate: 2147483648\r\n"},
    };
    for (const Case& c : cases) {
        const ChildResult windows = runChild(wine(Audio::Wine, c.args));
        ASSERT_FALSE(windows.timedOut);
        EXPECT_EQ(windows.exitCode, 1);
        EXPECT_EQ(windows.err, c.err);
        EXPECT_TRUE(windows.out.empty());

        const ChildResult linux = runChild(host(c.args));
        EXPECT_EQ(linux.exitCode, windows.exitCode);
        EXPECT_EQ(linux.err, unixLines(windows.err));
    }
}

TEST_F(Wine, WithWinesOwnAudioStackTheActivationFailsCleanly) {
    const ChildResult r = runChild(wine(Audio::Wine, {"--pid", "1234"}));
    ASSERT_FALSE(r.timedOut);
    const std::string version = versionOf(r.err);
    ASSERT_FALSE(version.empty()) << r.err;
    std::string probe = "info: windows version " + version.substr(0, version.rfind('.')) + " build " +
                        version.substr(version.rfind('.') + 1) + "\r\n";
    if (std::stoul(version.substr(version.rfind('.') + 1)) < 20348) {
        probe += "warn: process loopback capture requires Windows build 20348 or later\r\n";
    }
    // Wine's audio library knows no process-loopback device.
    EXPECT_EQ(r.err, "info: pid=1234 includeChildren=false\r\n" + probe +
                         "error: audio client activation failed hr=0x80070002\r\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
}

TEST_F(Wine, TheStreamArrivesByteForByteAndMatchesTheHostBuild) {
    const std::string script = "pattern=40x97;end=error:88890004;period=1";
    const ChildResult windows = runChild(wine(Audio::StandIn, {"--pid", "4321", "--include-child-processes"}, script));
    ASSERT_FALSE(windows.timedOut);
    EXPECT_EQ(windows.exitCode, 0);
    const std::vector<BYTE> expected = fakeaudio::patternBytes(0, 40 * 97 * 8);
    EXPECT_EQ(windows.out, std::vector<unsigned char>(expected.begin(), expected.end()));

    const ChildResult linux =
        runChild(host({"--pid", "4321", "--include-child-processes"}, script, versionOf(windows.err)));
    EXPECT_EQ(linux.exitCode, windows.exitCode);
    EXPECT_EQ(linux.out, windows.out);
    EXPECT_EQ(linux.err, unixLines(windows.err));
    EXPECT_NE(windows.err.find("info: capture started sampleRate=48000 channels=2\r\n"
                               "warn: GetNextPacketSize hr=0x88890004\r\n"
                               "info: capture stopped\r\n"),
              std::string::npos)
        << windows.err;
}

TEST_F(Wine, CtrlCStopsTheCaptureInOrder) {
    ChildOptions options = wine(Audio::StandIn, {"--pid", "1234"}, "end=tone");
    options.signalWhenErrContains = "capture started";
    options.signalAfterOutBytes = 48000 * 8 / 4;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_TRUE(r.signalled);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(endsWith(r.err, "info: capture started sampleRate=48000 channels=2\r\ninfo: capture stopped\r\n"));
}

TEST_F(Wine, AReaderThatGoesAwayEndsTheRunWithSuccess) {
    ChildOptions options = wine(Audio::StandIn, {"--pid", "1234"}, "end=tone");
    options.closeStdoutAfter = 50000;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(endsWith(r.err, "info: capture started sampleRate=48000 channels=2\r\ninfo: capture stopped\r\n"));
}

TEST_F(Wine, ASetupFailureReportsTheEnginesStatus) {
    const ChildResult r = runChild(wine(Audio::StandIn, {"--pid", "1234"}, "fail=Initialize:88890008"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(endsWith(r.err,
                         "info: capture format 48000 Hz 2 ch 32 bit float\r\nerror: IAudioClient::Initialize hr=0x88890008\r\n"));
    EXPECT_TRUE(r.out.empty());
}

}  // namespace
