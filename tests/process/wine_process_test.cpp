// The cross-built procloop.exe under Wine, beside the fake audio service's DLL
// (tests/fakes/wasapi): its lines (CRLF) and exit codes, arguments as written
// whatever their characters, its stream byte for byte through a Windows C
// runtime, and from the DLL's journal what it asked of the audio service and
// the system, in what order, and that it gave everything back.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "fakes/wasapi/script.h"
#include "options/capture_options.h"
#include "output/wav_header.h"
#include "private_component.h"
#include "tone.h"

namespace {

const std::string kWindowsBuild = PROCLOOP_WINDOWS_BUILD;

// One private Wine prefix for the suite, with a wineserver of its own, stopped as the test binary exits.
const PrivateComponent& prefix() {
    static const PrivateComponent component("wine-prefix");
    return component;
}

// Every capture run is told a Windows build with process loopback, so its lines are exact.
constexpr const char* kModern = "windows=10.0.22631;";
// Plays the script's bursts quickly, then the device goes away.
constexpr const char* kQuick = "period=1;end=error:88890004;";

std::string crlf(const std::string& text) { return std::regex_replace(text, std::regex("\n"), "\r\n"); }

// The fake service's DLL beside a copy of procloop.exe, playing `script`, its journal to `journal`.
ChildOptions wine(const std::vector<std::string>& args, const std::string& script = "", const std::string& journal = "") {
    ChildOptions options;
    options.argv = {"wine", "procloop.exe"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = prefix().env;
    options.env.insert(options.env.end(), {{"WINEDLLOVERRIDES", "mmdevapi=n,b"}, {"STANDIN_ENGINE_SCRIPT", script},
                                           {"STANDIN_ENGINE_JOURNAL", journal}});
    options.workingDirectory = kWindowsBuild + "/engine-run";
    return options;
}

std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The journal without the stream's own traffic and what the platform's
// completion thread does at its own time (it holds the handler, and through
// it the client, until it lets go): the calls made by the program's thread, in order.
std::vector<std::string> programCalls(const std::vector<std::string>& journal) {
    static const char* const kOwnTime[] = {"ActivateCompleted", "GetBuffer", "ReleaseBuffer", "_write", "WaitForSingleObject #2",
                                           "WaitForMultipleObjects #2", "CloseHandle #1", "IAudioClient released"};
    std::vector<std::string> kept;
    std::copy_if(journal.begin(), journal.end(), std::back_inserter(kept), [](const std::string& entry) {
        return std::none_of(std::begin(kOwnTime), std::end(kOwnTime), [&](const char* p) { return startsWith(entry, p); });
    });
    return kept;
}

// Each packet GetBuffer handed out was released at once: before anything was
// written, and before the next GetBuffer, wait or Stop.
void expectEveryPacketReleasedAtOnce(const std::vector<std::string>& journal) {
    std::string held;
    for (const std::string& entry : journal) {
        if (startsWith(entry, "ReleaseBuffer ")) {
            EXPECT_EQ(entry.substr(14), held) << "released what it did not hold";
            held.clear();
        } else if (!held.empty() && (startsWith(entry, "GetBuffer ") || startsWith(entry, "WaitFor") || startsWith(entry, "_write ") ||
                                     entry == "IAudioClient::Stop")) {
            ADD_FAILURE() << "a packet of " << held << " frames still held at " << entry;
            held.clear();
        }
        if (startsWith(entry, "GetBuffer ")) held = entry.substr(10);
    }
    EXPECT_TRUE(held.empty()) << "a packet of " << held << " frames never released";
}

// The set-up's calls up to `count` of them (all 10: a started stream).
const std::string kInitialize =
    "IAudioClient::Initialize share=0 flags=0x88060000 duration=2000000 period=0 format=3/2/48000/384000/8/32/0 session=null";
std::vector<std::string> setUp(std::size_t count, const std::string& activation = "pid=1234 mode=1",
                               const std::string& initialize = kInitialize) {
    const std::vector<std::string> all = {"CoInitializeEx null multithreaded", "CreateEventW manual #1",
                                          "ActivateAudioInterfaceAsync " + activation, "WaitForSingleObject #1 8000",
                                          "CreateEventW auto #2", initialize, "IAudioClient::SetEventHandle",
                                          "IAudioClient::GetService", "AvSetMmThreadCharacteristicsW Audio index=0",
                                          "IAudioClient::Start"};
    return {all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count)};
}
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<std::string> operator+(std::vector<std::string> a, const std::string& b) {
    a.push_back(b);
    return a;
}
const std::vector<std::string> kComGone = {"IActivateAudioInterfaceAsyncOperation released", "CoUninitialize held=0"};
const std::vector<std::string> kClientGone = std::vector<std::string>{"CloseHandle #2"} + kComGone;
const std::vector<std::string> kTearDown =
    std::vector<std::string>{"IAudioClient::Stop", "AvRevertMmThreadCharacteristics", "CloseHandle #2",
                             "IAudioCaptureClient released"} + kComGone;
const std::vector<std::string> kStarted = setUp(10) + kTearDown;

std::string head(const std::string& pid = "1234", bool tree = false, unsigned channels = 2, unsigned rate = 48000) {
    const std::string hz = std::to_string(rate), ch = std::to_string(channels);
    return "info: pid=" + pid + " includeChildren=" + (tree ? "true" : "false") +
           "\ninfo: windows version 10.0 build 22631\ninfo: capture format " + hz + " Hz " + ch +
           " ch 32 bit float\ninfo: capture started sampleRate=" + hz + " channels=" + ch + "\n";
}
const std::string kTarget = "info: pid=1234 includeChildren=false\ninfo: windows version 10.0 build 22631\n";
const std::string kFormat = kTarget + "info: capture format 48000 Hz 2 ch 32 bit float\n";
const std::string kGone = "warn: GetNextPacketSize hr=0x88890004\n";
const std::string kStopped = "info: capture stopped\n";
std::string kQualityRefused(const std::string& hr) {
    return "warn: IAudioClient::Initialize hr=0x" + hr + " with the default-quality resampler; retrying without it\n";
}
const std::string kPlainInitialize =
    "IAudioClient::Initialize share=0 flags=0x80060000 duration=2000000 period=0 format=3/2/48000/384000/8/32/0 session=null";

// The pattern as it should reach the output from the script's bursts at
// `channels`, silent and null packets as zeros.
std::vector<unsigned char> streamOf(const fakewasapi::Script& script, unsigned channels) {
    std::vector<unsigned char> expected;
    std::uint64_t offset = 0;
    for (const auto& burst : script.bursts) {
        for (const fakewasapi::Packet& p : burst) {
            const std::size_t size = std::size_t{p.frames} * channels * 4;
            const bool silent = p.nullData || (p.flags & fakewasapi::kSilent) != 0;
            const std::vector<unsigned char> packet = silent ? std::vector<unsigned char>(size, 0)
                                                             : testsignals::patternBytes(offset, size);
            expected.insert(expected.end(), packet.begin(), packet.end());
            offset += size;
        }
    }
    return expected;
}

enum class Out { Nothing, Text, Pattern, Tone, Wav, WavTone };

struct Row {
    const char* name;
    std::vector<std::string> args;
    std::string script;  // the fake service's, after kModern
    int exitCode;
    std::string err;  // all of standard error, lines ending "\n" for the program's "\r\n"
    std::vector<std::string> calls;  // programCalls() of the journal
    Out out = Out::Nothing;
    std::string text = "";             // Out::Text: standard output, "{self}" for the program's pid
    std::size_t bytes = SIZE_MAX;      // exactly this much output, or the pattern cut to it
    std::size_t ctrlCAfter = 0;        // Ctrl+C once this much arrived (0: never)
    std::size_t closeAfter = SIZE_MAX; // the reader goes away after this much
    bool byInput = false;              // instead of Ctrl+C its input ends (--stop-with-stdin)
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

unsigned channelsOf(const std::vector<std::string>& args) {
    const auto at = std::find(args.begin(), args.end(), "--channels");
    return at == args.end() ? 2 : static_cast<unsigned>(std::stoul(*(at + 1)));
}

// `text` with each "{self}" one and the same decimal number.
bool matchesWithSelf(const std::string& text, const std::string& pattern) {
    std::string re;
    bool first = true;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.compare(i, 6, "{self}") == 0) {
            re += first ? "(\\d+)" : "\\1";
            first = false;
            i += 5;
        } else {
            if (std::string("\\^$.|?*+()[]{}").find(pattern[i]) != std::string::npos) re += '\\';
            re += pattern[i];
        }
    }
    return std::regex_match(text, std::regex(re));
}

std::string usage() {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    printUsage(out);
    std::fclose(out);
    std::string usage(text, size);
    std::free(text);
    return usage;
}

class Wine : public ::testing::TestWithParam<Row> {};

TEST_P(Wine, SaysExactlyWhatItDidAndGivesEverythingBack) {
    const Row& c = GetParam();
    const std::string journal = prefix().dir + "/journal-" + c.name;
    const std::string script = c.script.empty() ? "" : kModern + c.script;
    ChildOptions o = wine(c.args, script, journal);
    InputPipe input(o, "q\r\n");  // ignored, and never read without --stop-with-stdin
    o.onProgress = [&, sent = false](pid_t pid, const ChildResult& soFar) mutable {
        std::error_code none;  // before the file exists: 0
        const std::size_t arrived = o.stdoutPath.empty() ? soFar.out.size() : std::filesystem::file_size(o.stdoutPath, none) + 1;
        if (!sent && c.ctrlCAfter != 0 && arrived >= c.ctrlCAfter)
            sent = c.byInput ? input.close() : ::kill(pid, SIGINT) == 0;
    };
    o.closeStdoutAfter = c.closeAfter;
    // --output: a file of the program's own, in its working directory, that held something before.
    const auto output = std::find(c.args.begin(), c.args.end(), "--output");
    const std::string written = output == c.args.end() ? "" : o.workingDirectory + "/" + *(output + 1);
    if (!written.empty()) std::ofstream(written) << std::string(1 << 16, 'x');  // longer than what the run writes
    o.stdoutPath = (c.out == Out::Wav || c.out == Out::WavTone) && written.empty() ? prefix().dir + "/out.wav" : "";
    ChildResult r = runChild(o);
    std::ifstream file(written.empty() ? o.stdoutPath : written, std::ios::binary);
    r.out.insert(r.out.end(), std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());

    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.err, crlf(c.err));
    fakewasapi::Script parsed;
    ASSERT_TRUE(fakewasapi::parseScript(script, parsed)) << script;
    const std::vector<unsigned char> pattern = streamOf(parsed, channelsOf(c.args));
    switch (c.out) {
        case Out::Nothing:
            EXPECT_TRUE(r.out.empty()) << r.out.size() << " bytes";
            break;
        case Out::Text:
            EXPECT_TRUE(matchesWithSelf({r.out.begin(), r.out.end()}, crlf(c.text)))
                << std::string(r.out.begin(), r.out.end());
            break;
        case Out::Pattern:
            EXPECT_EQ(r.out, std::vector<unsigned char>(pattern.begin(), pattern.begin() + std::min(c.bytes, pattern.size())));
            break;
        case Out::WavTone: {  // sized to what the file holds, then the tone
            unsigned char header[kWavHeaderMaxBytes];
            const std::size_t length = buildWavHeader(header, 48000, 2, r.out.size() - buildWavHeader(header, 48000, 2, 0));
            ASSERT_GT(r.out.size(), length);
            EXPECT_TRUE(std::equal(header, header + length, r.out.begin()));
            r.out.erase(r.out.begin(), r.out.begin() + length);
        }
        [[fallthrough]];
        case Out::Tone: {
            EXPECT_TRUE(c.bytes == SIZE_MAX || r.out.size() == c.bytes) << r.out.size();
            EXPECT_FALSE(r.out.empty());
            const auto silent = [&parsed](std::uint64_t ms) { return fakewasapi::silentAt(parsed, ms); };
            const bool continuous = std::count(c.args.begin(), c.args.end(), "--continuous") != 0;
            // Within another C runtime's sine.
            const ToneFrames frames = toneFrames(r.out, silent, !continuous, 1e-6f);
            EXPECT_EQ(frames.lost + frames.wrong, 0u);
            break;
        }
        case Out::Wav: {  // a file gets its final sizes, however the capture ends
            unsigned char header[kWavHeaderMaxBytes];
            const std::size_t length = buildWavHeader(header, 48000, 2, pattern.size());
            std::vector<unsigned char> expected(header, header + length);
            expected.insert(expected.end(), pattern.begin(), pattern.end());
            EXPECT_EQ(r.out, expected);
            break;
        }
    }

    const std::vector<std::string> entries = linesOf(journal);
    EXPECT_EQ(programCalls(entries), c.calls);
    expectEveryPacketReleasedAtOnce(entries);
    if (c.err.find("capture format") != std::string::npos) {  // the client went before COM did
        const auto at = [&entries](const char* entry) {
            return std::find_if(entries.begin(), entries.end(), [entry](const std::string& e) { return startsWith(e, entry); });
        };
        EXPECT_LT(at("IAudioClient released"), at("CoUninitialize"));
    }
}

const std::string kStream = "burst=480,7,1;burst=480s;burst=100,3n,5;burst=2sdn;burst=33d;burst=9t,6";
const std::string kThree = "burst=10,20;burst=30;";  // packets of 10, 20 and 30 frames
const std::string kPattern = "pattern=40x97;";
const std::string kHeader = "pid\tstate\texecutable\troot\n";
const std::vector<std::string> kListed = {"CoInitializeEx null multithreaded", "CoUninitialize held=0"};
const std::vector<std::string> kCapture = {"--pid", "1234"};

Row listFails(const char* name, const std::string& call, const std::string& status) {
    return {name, {"--list"}, "session=self:active;fail=" + call + ":" + status, 1,
            "error: " + call + " hr=0x" + status + "\n", kListed};
}

// The three Unicode ones must reach the program as written: a C runtime that
// builds argv in an ANSI code page best-fits them to "--pid", "5" and "-5".
INSTANTIATE_TEST_SUITE_P(
    EarlyExits, Wine,
    ::testing::Values(
        Row{"NoTarget", {}, "", 1, "error: --pid <pid> or --hwnd <hwnd> is required\n", {}},
        Row{"HwndWithoutWindow", {"--hwnd", "77"}, "", 1, "error: could not resolve HWND 000000000000004D to a process id\n", {}},
        Row{"PidNotANumber", {"--pid", "abc"}, "", 1, "error: invalid value for --pid: abc\n", {}},
        Row{"NameOfNoProcess", {"--name", "nosuchprogram"}, "", 1, "error: no process named nosuchprogram\n", {}},
        Row{"FullwidthHyphensAreNoOption", {"\uFF0D\uFF0Dpid", "5"}, "", 1, "error: --pid <pid> or --hwnd <hwnd> is required\n", {}},
        Row{"FullwidthDigitIsNoDigit", {"--pid", "\uFF15"}, "", 1, "error: invalid value for --pid: \uFF15\n", {}},
        Row{"MinusSignIsNoHyphen", {"--pid", "\u22125"}, "", 1, "error: invalid value for --pid: \u22125\n", {}},
        Row{"Help", {"--help", "--pid", "x"}, "", 0, "", {}, Out::Text, usage()},
        Row{"Version", {"--version", "--pid", "x"}, "", 0, "", {}, Out::Text, "procloop " PROCLOOP_VERSION "\n"},
        // Wine reports an older build; the first with process loopback passes without a warning.
        Row{"OlderBuildWarns", kCapture, "windows=10.0.19045;coinit=80010106", 1,
            "info: pid=1234 includeChildren=false\ninfo: windows version 10.0 build 19045\n"
            "warn: process loopback capture requires Windows build 20348 or later\n"
            "error: CoInitializeEx failed hr=0x80010106\n",
            {"CoInitializeEx null multithreaded"}},
        Row{"FirstLoopbackBuild", kCapture, "windows=10.0.20348;coinit=80010106", 1,
            "info: pid=1234 includeChildren=false\ninfo: windows version 10.0 build 20348\n"
            "error: CoInitializeEx failed hr=0x80010106\n",
            {"CoInitializeEx null multithreaded"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Each set-up step failing: its one line, exit code 1, and what existed given
// back in order. Without the scheduler's boost capture goes on.
INSTANTIATE_TEST_SUITE_P(
    SetUp, Wine,
    ::testing::Values(
        Row{"TargetNotOpened", {"--pid", "999999", "--stop-with-target"}, kQuick, 1,
            "info: pid=999999 includeChildren=false\ninfo: windows version 10.0 build 22631\n"
            "error: could not open process 999999 hr=0x80070057\n",
            {"OpenProcess access=0x00100000 pid=999999 failed"}},
        Row{"OutputNotOpened", {"--pid", "1234", "--output", "no-such-directory/capture.f32"}, "", 1,
            "error: could not open no-such-directory/capture.f32: No such file or directory\n", {}},
        Row{"Com", kCapture, "coinit=80010106", 1, kTarget + "error: CoInitializeEx failed hr=0x80010106\n",
            {"CoInitializeEx null multithreaded"}},
        Row{"ActivationCall", kCapture, "fail=ActivateAudioInterfaceAsync:80070005", 1,
            kTarget + "error: ActivateAudioInterfaceAsync hr=0x80070005\n", setUp(3) + kListed[1]},
        // The handler without its event waits for nothing: as a completion that never comes.
        Row{"HandlerEvent", kCapture, "activation=never;event=1", 1, kTarget + "error: audio interface activation timed out\n",
            std::vector<std::string>{"CoInitializeEx null multithreaded", "CreateEventW failed",
                                     "ActivateAudioInterfaceAsync pid=1234 mode=1"} + kComGone},
        Row{"ActivationWaitFails", kCapture, "activation=never;wait=1", 1,
            kTarget + "error: audio interface activation timed out\n", setUp(4) + kComGone},
        // The 8 s wait reports its time-out at once; the handler is the platform's to let go of.
        Row{"ActivationNeverCompletes", kCapture, "activation=never;timeout=1", 1,
            kTarget + "error: audio interface activation timed out\n", setUp(4) + kComGone},
        Row{"ActivationStatus", kCapture, "status=88890004", 1, kTarget + "error: audio client activation failed hr=0x88890004\n",
            setUp(4) + kComGone},
        Row{"ResultUnreadable", kCapture, "fail=GetActivateResult:80004005", 1,
            kTarget + "error: audio client activation failed hr=0x80004005\n", setUp(4) + kComGone},
        Row{"CaptureEvent", kCapture, "event=2", 1, kFormat + "error: CreateEvent failed\n",
            setUp(4) + "CreateEventW failed" + kComGone},
        // Refused with the better resampler and without it: tried twice, then given up.
        Row{"Initialize", kCapture, "fail=Initialize:88890008", 1,
            kFormat + kQualityRefused("88890008") + "error: IAudioClient::Initialize hr=0x88890008\n",
            setUp(6) + kPlainInitialize + kClientGone},
        // An engine without the better resampler: once more without it, and on.
        Row{"QualityRefused", kCapture, kQuick + kThree + "quality=refused", 0,
            kFormat + kQualityRefused("80070057") + "info: capture started sampleRate=48000 channels=2\n" + kGone + kStopped,
            setUp(6) + kPlainInitialize + std::vector<std::string>(kStarted.begin() + 6, kStarted.end()), Out::Pattern},
        Row{"EventHandle", kCapture, "fail=SetEventHandle:80070057", 1, kFormat + "error: SetEventHandle hr=0x80070057\n",
            setUp(7) + kClientGone},
        Row{"CaptureClient", kCapture, "fail=GetService:88890004", 1,
            kFormat + "error: GetService(IAudioCaptureClient) hr=0x88890004\n", setUp(8) + kClientGone},
        Row{"Start", kCapture, "fail=Start:88890010", 1, kFormat + "error: IAudioClient::Start hr=0x88890010\n",
            setUp(10) + std::vector<std::string>(kTearDown.begin() + 1, kTearDown.end())},
        Row{"SchedulerRefuses", kCapture, kQuick + kThree + "mmcss=refused", 0, head() + kGone + kStopped,
            setUp(10) + "IAudioClient::Stop" + kClientGone.front() + "IAudioCaptureClient released" + kComGone, Out::Pattern}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way out of the capture loop ends it in order with exit code 0, each
// packet copied out and released before it is written. Silent and null
// packets become zeros, every other flag leaves the data as it is; the
// pattern's bytes include 0x0A, 0x0D and 0x1A, which a text-mode stream would alter.
INSTANTIATE_TEST_SUITE_P(
    Capture, Wine,
    ::testing::Values(
        Row{"EveryPacketAt1Channel", {"--pid", "1234", "--channels", "1"}, kQuick + kStream, 0, head("1234", false, 1) + kGone + kStopped,
            setUp(10, "pid=1234 mode=1",
                  "IAudioClient::Initialize share=0 flags=0x88060000 duration=2000000 period=0 format=3/1/48000/192000/4/32/0 session=null") +
                kTearDown,
            Out::Pattern},
        Row{"TreeAtEightChannels", {"--pid", "77", "--channels", "8", "--sample-rate", "192000", "--include-child-processes"},
            kQuick + kStream, 0, head("77", true, 8, 192000) + kGone + kStopped,
            setUp(10, "pid=77 mode=0",
                  "IAudioClient::Initialize share=0 flags=0x88060000 duration=2000000 period=0 format=65534/8/192000/6144000/32/32/22 session=null ext=32/0x63F/float") +
                kTearDown,
            Out::Pattern},
        Row{"NextPacketSizeFailsAfterAWakeUp", kCapture, kQuick + kThree + "fail=GetNextPacketSize:88890004", 0,
            head() + kGone + kStopped, kStarted},
        Row{"NextPacketSizeFailsWhileDraining", kCapture, kQuick + kThree + "fail=GetNextPacketSize:88890010@2", 0,
            head() + kStopped, kStarted, Out::Pattern, "", 80},
        Row{"GetBufferFails", kCapture, kQuick + kThree + "fail=GetBuffer:88890018@2", 0,
            head() + "warn: GetBuffer hr=0x88890018\n" + kStopped, kStarted, Out::Pattern, "", 80},
        Row{"AFailingReleaseIsNotLookedAt", kCapture, kQuick + kThree + "fail=ReleaseBuffer:88890011", 0,
            head() + kGone + kStopped, kStarted, Out::Pattern},
        // The first wait is the activation's.
        Row{"TheWaitFails", kCapture, kQuick + kThree + "wait=2", 0, head() + "error: WaitForSingleObject failed\n" + kStopped,
            kStarted},
        Row{"Wav", {"--pid", "4321", "--wav"}, kQuick + kPattern, 0, head("4321") + kGone + kStopped,
            setUp(10, "pid=4321 mode=1") + kTearDown, Out::Wav},
        Row{"CtrlC", {"--pid", "1234", "--include-child-processes"}, "end=tone", 0, head("1234", true) + kStopped,
            setUp(10, "pid=1234 mode=0") + kTearDown, Out::Tone, "", SIZE_MAX, 96000},
        // A parent closes its input: the same end as Ctrl+C's, the file's sizes written.
        Row{"InputEndsWav", {"--pid", "1234", "--include-child-processes", "--wav", "--stop-with-stdin"}, "end=tone", 0,
            head("1234", true) + kStopped, setUp(10, "pid=1234 mode=0") + kTearDown, Out::WavTone, "", SIZE_MAX, 96000,
            SIZE_MAX, true},
        Row{"ReaderGone", {"--pid", "1234", "--include-child-processes"}, "end=tone", 0, head("1234", true) + kStopped,
            setUp(10, "pid=1234 mode=0") + kTearDown, Out::Tone, "", SIZE_MAX, 0, 50000},
        // The program opens it: created or truncated, the sizes patched at the end, nothing on standard output.
        Row{"Output", {"--pid", "4321", "--wav", "--output", "capt\u00FCre.wav"}, kQuick + kPattern, 0,
            head("4321") + kGone + kStopped, setUp(10, "pid=4321 mode=1") + kTearDown, Out::Wav},
        Row{"Duration", {"--pid", "1234", "--include-child-processes", "--duration", "1"}, "end=tone", 0,
            head("1234", true) + kStopped, setUp(10, "pid=1234 mode=0") + kTearDown, Out::Tone},
        // Locked to the clock: a scripted second of silence is a second of zeros in a run of exactly two seconds.
        Row{"ContinuousThroughASilence", {"--pid", "1234", "--include-child-processes", "--continuous", "--duration", "2"},
            "silence=500:1000", 0, head("1234", true) + kStopped, setUp(10, "pid=1234 mode=0") + kTearDown, Out::Tone, "",
            2 * 48000 * 8}),
    [](const auto& info) { return std::string(info.param.name); });

// --list: the sessions' owners through COM against the DLL's class object, or the call that failed.
INSTANTIATE_TEST_SUITE_P(
    List, Wine,
    ::testing::Values(
        Row{"ListActiveMultiAndGoneSkipped", {"--list"}, "session=self:active;session=self:multi;session=4194305:active", 0, "",
            kListed, Out::Text, kHeader + "{self}\tactive\tprocloop.exe\t{self}\n"},
        Row{"ListInactive", {"--list"}, "session=self:inactive", 0, "", kListed, Out::Text,
            kHeader + "{self}\tinactive\tprocloop.exe\t{self}\n"},
        Row{"ListNoSessions", {"--list"}, "", 0, "", kListed, Out::Text, kHeader},
        Row{"ListCom", {"--list"}, "coinit=80010106", 1, "error: CoInitializeEx failed hr=0x80010106\n", {kListed.front()}},
        listFails("ListCreate", "CoCreateInstance", "80040154"),
        listFails("ListEndpoints", "IMMDeviceEnumerator::EnumAudioEndpoints", "88890010"),
        listFails("ListDeviceCount", "IMMDeviceCollection::GetCount", "80004005"),
        listFails("ListDevice", "IMMDeviceCollection::Item", "80070057"),
        // An endpoint gone since it was listed is left out; the others are still listed.
        Row{"ListEndpointGone", {"--list"}, "session=self:active;fail=IMMDevice::Activate:88890004", 0,
            "warn: IMMDevice::Activate hr=0x88890004: endpoint skipped\n", kListed, Out::Text, kHeader},
        listFails("ListSessionEnumerator", "IAudioSessionManager2::GetSessionEnumerator", "8007000E"),
        listFails("ListSessionCount", "IAudioSessionEnumerator::GetCount", "80004005"),
        listFails("ListSession", "IAudioSessionEnumerator::GetSession", "80070057"),
        listFails("ListSessionQuery", "IAudioSessionControl::QueryInterface", "80004002"),
        listFails("ListProcessId", "IAudioSessionControl2::GetProcessId", "88890004"),
        listFails("ListState", "IAudioSessionControl::GetState", "88890004")),
    [](const auto& info) { return std::string(info.param.name); });

// The Windows build's own unit tests, against the real C runtime and SDK types: 0 is their exit code if all pass.
TEST(WineUnitTests, Pass) {
    EXPECT_NO_THROW(outputOf({"wine", kWindowsBuild + "/tests/windows_unit_tests.exe"}, wine({}).env));
}

// A Windows process of the prefix that lives a few seconds, found by name and
// opened first; the capture waits on it with the stream's event.
TEST(WineStopWithTarget, EndsWithTheTargetOrAFailedWait) {
    const pid_t target = spawnProcess({"wine", "ping", "-n", "8", "127.0.0.1"}, wine({}).env, prefix().dir + "/ping.log");
    const std::vector<std::string> args = {"--name", "ping", "--include-child-processes", "--stop-with-target"};
    ChildResult failed;  // until ping.exe has started
    for (int i = 0; i < 20 && (i == 0 || failed.err.find("no process named") != std::string::npos); ++i) {
        failed = runChild(wine(args, std::string(kModern) + "end=tone;wait=2"));
    }
    const std::string journal = prefix().dir + "/journal-target";
    const ChildResult r = runChild(wine(args, std::string(kModern) + "end=tone", journal));
    stopProcess(target);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(failed.exitCode, 0) << failed.err;
    EXPECT_TRUE(std::regex_match(failed.err, std::regex(crlf(head("(\\d+)", true) + "error: WaitForMultipleObjects failed\n" + kStopped))))
        << failed.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::smatch pid;
    ASSERT_TRUE(std::regex_match(r.err, pid, std::regex(crlf(head("(\\d+)", true) + "info: target process exited\n" + kStopped))))
        << r.err;
    EXPECT_FALSE(r.out.empty());
    const std::vector<std::string> entries = linesOf(journal);
    EXPECT_EQ(programCalls(entries), std::vector<std::string>{"OpenProcess access=0x00100000 pid=" + pid.str(1)} +
                                         setUp(10, "pid=" + pid.str(1) + " mode=0") + kTearDown + "CloseHandle target");
    // The exit seen, the target's last audio is waited for once and drained before the stop.
    const auto lastWait = std::find_if(entries.rbegin(), entries.rend(), [](const std::string& e) {
        return startsWith(e, "WaitForMultipleObjects #2 target any ");
    });
    ASSERT_NE(lastWait, entries.rend());
    EXPECT_EQ(*(lastWait - 1), "WaitForSingleObject #2 50");
    expectEveryPacketReleasedAtOnce(entries);
}

// `-- <command>`: created suspended and resumed only once the capture has
// started, its arguments (read back by a second procloop.exe) and exit status intact.
struct CommandRow {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // "{head}": the capture's lines for the pid it names
};
void PrintTo(const CommandRow& row, std::ostream* os) { *os << row.name; }

class WineCommand : public ::testing::TestWithParam<CommandRow> {};

TEST_P(WineCommand, StartsItHeldAndResumesItOnceCapturing) {
    const CommandRow& c = GetParam();
    const std::string journal = prefix().dir + "/journal-command-" + c.name;
    const ChildResult r = runChild(wine(c.args, std::string(kModern) + "end=tone", journal));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.exitCode);
    std::smatch pid;
    const bool started = std::regex_search(r.err, pid, std::regex("info: pid=(\\d+)"));
    const std::string head = ::head(started ? pid.str(1) : "", true);
    EXPECT_EQ(r.err, crlf(std::regex_replace(c.err, std::regex("\\{head\\}"), head)));
    const std::vector<std::string> calls =
        started ? std::vector<std::string>{"CreateProcessW suspended", "OpenProcess access=0x00100000 pid=" + pid.str(1)} +
                      setUp(10, "pid=" + pid.str(1) + " mode=0") + "ResumeThread" + kTearDown + "CloseHandle target"
                : std::vector<std::string>{"CreateProcessW suspended failed"};
    EXPECT_EQ(programCalls(linesOf(journal)), calls);
}

const std::string kExited = "info: target process exited\n" + kStopped;
INSTANTIATE_TEST_SUITE_P(
    Commands, WineCommand,
    ::testing::Values(CommandRow{"ExitStatus", {"--", "cmd", "/c", "exit 3"}, 3, "{head}" + kExited},
                      CommandRow{"Arguments", {"--", "procloop.exe", "--pid", "a \"b\" c\\\\ d\\"}, 1,
                                 "{head}error: invalid value for --pid: a \"b\" c\\\\ d\\\n" + kExited},
                      CommandRow{"UnicodeArguments", {"--", "procloop.exe", "--pid", "\u00fcn\u00ef \"\u4e2d"}, 1,
                                 "{head}error: invalid value for --pid: \u00fcn\u00ef \"\u4e2d\n" + kExited},
                      CommandRow{"NotFound", {"--", "nosuch.exe"}, 127, "error: command not found: nosuch.exe\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// --wait --name: ping.exe started once procloop says it waits is captured.
TEST(WineWait, CatchesAProcessStartedLater) {
    pid_t ping = 0;
    ChildOptions o = wine({"--wait", "--name", "ping", "--include-child-processes", "--stop-with-target"},
                          std::string(kModern) + "end=tone");
    o.onProgress = [&ping](pid_t, const ChildResult& soFar) {
        if (ping == 0 && soFar.err.find("waiting") != std::string::npos)
            ping = spawnProcess({"wine", "ping", "-n", "3", "127.0.0.1"}, wine({}).env, prefix().dir + "/ping-late.log");
    };
    const ChildResult r = runChild(o);
    if (ping != 0) stopProcess(ping);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(std::regex_match(r.err, std::regex(crlf("info: waiting for ping\n" + head("(\\d+)", true) + kExited)))) << r.err;
    EXPECT_FALSE(r.out.empty());
}

}  // namespace
