// The host binary as a user and other programs start it: help and version,
// WAVE files and pipes read by sox, the live meter on a pseudo-terminal; and
// the hostile ways a Linux process can be started, and stopped in every way
// besides Ctrl+C on a pipe that is read. Each must end as the Windows build
// does: its lines, its exit code, never death by a signal it should have survived.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "output/wav_header.h"

namespace {

// The usage is built from the parser's own table, so only its frame is checked here.
// Each exits with 0; that nothing goes to standard error the Wine rows show on both builds.
TEST(Requests, AnswerOnStandardOutputWhateverElseIsGiven) {
    const std::string usage = outputOf({PROCLOOP_HOST_BINARY, "--pid", "abc", "--help"});
    EXPECT_EQ(outputOf({PROCLOOP_HOST_BINARY, "--hwnd", "x", "--version", "--help"}),
              std::string("procloop ") + PROCLOOP_VERSION + "\n");
    EXPECT_EQ(usage.rfind("usage: procloop ", 0), 0u) << usage;
    EXPECT_NE(usage.find("\n  --wav  "), std::string::npos) << usage;
}

// What a terminal shows once the text is drawn: a carriage return overwrites.
std::string screenOf(const std::string& text) {
    std::string screen, line;
    std::size_t column = 0;
    for (const char ch : text + "\n") {
        if (ch == '\n') {
            screen += line.erase(line.find_last_not_of(' ') + 1) + "\n";
            line.clear();
        }
        if (ch == '\n' || ch == '\r') {
            column = 0;
            continue;
        }
        if (column < line.size()) line[column] = ch; else line += ch;
        ++column;
    }
    return screen.substr(0, screen.size() - 1);
}

TEST(Meter, IsKeptOnAConsoleAndLeavesOnlyTheDiagnosticLines) {
    int terminal = -1, console = -1;
    ASSERT_EQ(::openpty(&terminal, &console, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::fcntl(terminal, F_SETFL, O_NONBLOCK), 0);
    // Standard error is the console, the program's controlling terminal, so a typed Ctrl+C reaches it.
    ChildOptions options = procloop({"--pid", "1234"});
    options.inChild = [console] {
        if (::setsid() < 0 || ::ioctl(console, TIOCSCTTY, 0) != 0 || ::dup2(console, 2) != 2) ::_exit(124);
    };
    std::string text;
    bool typed = false;
    const auto readTerminal = [&] {
        char chunk[4096];
        for (ssize_t got = 0; (got = ::read(terminal, chunk, sizeof chunk)) > 0;)
            text.append(chunk, static_cast<std::size_t>(got));
    };
    options.onProgress = [&](pid_t, const ChildResult&) {
        readTerminal();
        // Redrawn, not printed once; then Ctrl+C is typed, which the terminal echoes as "^C".
        if (!typed && text.find(" dBFS") != text.rfind(" dBFS")) typed = ::write(terminal, "\x03", 1) == 1;
    };
    const ChildResult r = runChild(options);
    readTerminal();
    ::close(terminal);
    ::close(console);
    ASSERT_TRUE(typed) << text;
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(text.find(" MiB  -12.0 -12.0 dBFS"), std::string::npos) << text;  // the tone peaks at 0.25
    EXPECT_EQ(screenOf(text), captureHead() + kStopped);
}

struct Case {
    std::string name;
    std::vector<std::string> args = {"--pid", "1234"};
    Environment env;
    std::vector<int> closed;          // standard descriptors closed at start
    std::function<void()> start;      // in the child before exec: the rest of how it is started
    std::size_t readUpTo = SIZE_MAX;  // then the reader of standard output goes away
    bool stalls = false;              // ... or stops reading and keeps its end open
    // Each sent once `afterBytes` more output arrived (none asked: once the pid line is out); the first `storm` times.
    std::vector<int> signals = {SIGINT};
    std::size_t afterBytes = 48000;
    unsigned storm = 1;
    int exitCode = 0;  // minus the signal that ends it
    std::string err = captureHead(1234) + kStopped;
    long minOut = 48000;  // bytes of output at least; -1: none at all
    // --wav with this many channels, to the pipe or (flags not 0) a file opened so, its size capped at `wavLimit`.
    unsigned wav = 0;
    int wavFlags = 0;
    rlim_t wavLimit = 0;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
Case with(const char* name, const std::function<void(Case&)>& edit) { Case c; c.name = name; edit(c); return c; }

class HostProcess : public ::testing::TestWithParam<Case> {};

TEST_P(HostProcess, EndsWithItsLinesAndExitCode) {
    const Case& c = GetParam();
    const TempDir dir;
    ChildOptions options = procloop(c.args, c.env);
    options.workingDirectory = dir.path();
    (c.stalls ? options.stallStdoutAfter : options.closeStdoutAfter) = c.readUpTo;
    options.inChild = [&] {
        for (const int fd : c.closed) ::close(fd);
        if (c.start) c.start();
    };
    std::vector<std::string> seen;  // what the closed descriptors are while it runs
    std::size_t sent = 0;
    options.onProgress = [&](pid_t pid, const ChildResult& soFar) {
        // Each signal after a further `afterBytes`: the one before had time to act.
        if (sent == c.signals.size() || soFar.out.size() < c.afterBytes * (sent + 1) ||
            soFar.err.find(c.afterBytes == 0 ? "info: pid=" : "") == std::string::npos)
            return;
        std::error_code none;  // a closed one reads as ""
        const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
        for (const int fd : sent == 0 ? c.closed : std::vector<int>{})
            seen.push_back(std::filesystem::read_symlink(fds + std::to_string(fd), none));
        for (unsigned i = 1; sent == 0 && i < c.storm && ::kill(pid, c.signals[0]) == 0; ++i) {
        }
        // A stalled reader: the pipe fills in far less, and the program is blocked in its write.
        if (c.stalls) std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ::kill(pid, c.signals[sent++]);
    };
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut) << r.err;
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.err, c.err);
    // Closed ones the start-up reserved, so nothing opened later lands on them.
    EXPECT_EQ(sent, c.signals.size());
    EXPECT_EQ(seen, std::vector<std::string>(c.signals.empty() ? 0 : c.closed.size(), "/dev/null"));
    EXPECT_TRUE(c.minOut < 0 ? r.out.empty() : r.out.size() >= static_cast<std::size_t>(c.minOut)) << r.out.size();
    EXPECT_TRUE(c.readUpTo != SIZE_MAX || c.wav != 0 || r.out.size() % 8 == 0) << r.out.size();
    if (c.wav == 0) return;

    // A file gets its sizes however the capture stops, a pipe or a file it cannot seek in
    // the streaming maximum; sox reads the header. (What follows it is the raw stream's part.)
    const std::string path = dir.path() + "/capture.wav";
    if (c.wavFlags == 0) std::ofstream(path).write(reinterpret_cast<const char*>(r.out.data()), r.out.size());
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::size_t header = c.wav > 2 ? 104 : 82;
    ASSERT_GT(bytes.size(), header + 48000);
    // Filled up to the last byte, a part of a sample too; stopped, with whole frames.
    EXPECT_EQ(c.wavLimit != 0 ? bytes.size() - c.wavLimit : (bytes.size() - header) % (4 * c.wav), 0u);
    unsigned char expected[kWavHeaderMaxBytes];
    buildWavHeader(expected, 48000, c.wav, (c.wavFlags & O_TRUNC) != 0 ? bytes.size() - header : kWavStreaming);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + header),
              std::vector<unsigned char>(expected, expected + header));
    EXPECT_EQ(outputOf({"sh", "-c", "sox --i -c \"$0\" && sox --i -r \"$0\" && sox --i -e \"$0\"", path}),
              std::to_string(c.wav) + "\n48000\nFloating Point PCM\n");
}

void storm(Case& c) { c.storm = 1000000, c.afterBytes = 0, c.minOut = 0; }
void endsBy(Case& c, int sig, std::string err = captureHead(1234)) { c.exitCode = -sig, c.err = err; }
// --wav, stopped after a second (the ending Ctrl+C has too) or by the file filling up at `limit`.
void wav(Case& c, unsigned channels, int flags, rlim_t limit = 0) {
    c.args.insert(c.args.end(), {"--wav", "--channels", std::to_string(channels)});
    if (limit == 0) c.args.insert(c.args.end(), {"--duration", "1"});
    c.start = [flags, limit] {
        const rlimit size{limit, limit};
        if (limit != 0 && ::setrlimit(RLIMIT_FSIZE, &size) != 0) ::_exit(124);
        if (flags != 0 && ::dup2(::open("capture.wav", flags, 0600), 1) != 1) ::_exit(124);
    };
    c.wav = channels, c.wavFlags = flags, c.wavLimit = limit, c.signals = {};
    c.minOut = flags != 0 ? -1 : 48000, c.err = captureHead(1234, false, channels) + kStopped;
}
// 0, 1, 2 and one for the loader: not even a pipe (a sanitizer build checks
// memory through a pipe of its own). Console events must still arrive.
void noDescriptors(Case& c, int sig) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    c.start = [] { const rlimit limit{5, 5}; ::setrlimit(RLIMIT_NOFILE, &limit); };
#else
    c.start = [] { const rlimit limit{4, 4}; ::setrlimit(RLIMIT_NOFILE, &limit); };
#endif
    c.signals = {sig};
}

INSTANTIATE_TEST_SUITE_P(
    Starts, HostProcess,
    ::testing::Values(
        with("CtrlCTree", [](Case& c) {
            c.args.push_back("--include-child-processes");
            c.afterBytes = c.minOut = 384000, c.err = captureHead(1234, true) + kStopped;
        }),
        with("ReaderGoesAway", [](Case& c) { c.signals = {}, c.readUpTo = 20000, c.minOut = 20000; }),
        // Each closed one is taken by a stand-in, the next one too; standard error takes the lines.
        with("StdinAndStderrClosed", [](Case& c) { c.closed = {0, 2}, c.err = ""; }),
        // The stand-in is read-only: writes to it fail, which ends the run in order.
        with("StdoutClosed", [](Case& c) { c.closed = {1}, c.signals = {}, c.minOut = -1; }),
        // Its lines then fail to be written, and nothing else changes.
        with("StderrReaderGoneThenCtrlC", [](Case& c) {
            c.start = [] {
                int fds[2];
                if (::pipe(fds) != 0 || ::close(fds[0]) != 0 || ::dup2(fds[1], 2) != 2) ::_exit(124);
            };
            c.err = "", c.afterBytes = c.minOut = 20000;
        }),
        // Ctrl+C a million times during set-up, enough to fill any pipe a handler
        // might write to: no deadlock, and the last signal is not lost.
        with("StormThenStopsInOrder", [](Case& c) { storm(c); }),
        with("StormThenShutdownInSetUp", [](Case& c) {
            storm(c), endsBy(c, SIGTERM, "info: pid=1234 includeChildren=false\n"), c.signals = {SIGINT, SIGTERM};
            c.minOut = -1, c.env = {{"FAKE_BACKEND_SCRIPT", "open=hangs"}};
        }),
        with("NoDescriptorsCtrlBreak", [](Case& c) { noDescriptors(c, SIGQUIT); }),
        // Close (as shutdown) ends the process once the handler has returned.
        with("NoDescriptorsClose", [](Case& c) { noDescriptors(c, SIGHUP), endsBy(c, SIGHUP); }),
        // --hwnd ends the run before anything else needs a thread. The limit binds only an
        // unprivileged user and counts all its threads: as nobody, this process is all it allows.
        // A sanitizer build's leak check would need a thread too.
        with("NoThreadForTheConsole", [](Case& c) {
            c.args = {"--hwnd", "77"}, c.env = {{"DISPLAY", ""}, {"ASAN_OPTIONS", "detect_leaks=0"}};
            c.start = [] {
                const rlimit one{1, 1};
                if ((::getuid() == 0 && (::setgid(65534) || ::setuid(65534))) || ::setrlimit(RLIMIT_NPROC, &one))
                    ::_exit(123);
            };
            c.signals = {}, c.exitCode = 1, c.minOut = -1;
            c.err = "warn: console control events unavailable: Resource temporarily unavailable\n"
                    "error: could not resolve HWND 000000000000004D to a process id\n";
        }),
        // Ignored by the parent (as in a background job; nohup likewise for SIGHUP), sent and still ignored.
        with("BackgroundJobThenShutdown", [](Case& c) {
            c.start = [] { ::signal(SIGINT, SIG_IGN); };
            c.signals = {SIGINT, SIGTERM}, endsBy(c, SIGTERM);
        }),
        // 2147483646 is above the kernel's largest pid.
        with("StopWithTargetThatIsNot", [](Case& c) {
            c.args = {"--pid", "2147483646", "--stop-with-target"}, c.signals = {}, c.exitCode = 1, c.minOut = -1;
            c.err = "info: pid=2147483646 includeChildren=false\nerror: could not open process 2147483646\n";
        }),
        // A file stopped, filled up (at 8 channels too), the pipe, and a file opened as `>>` does.
        with("WavFileStopped", [](Case& c) { wav(c, 2, O_WRONLY | O_CREAT | O_TRUNC); }),
        with("WavFileFull", [](Case& c) { wav(c, 2, O_WRONLY | O_CREAT | O_TRUNC, 100003); }),
        with("WavFileFull8", [](Case& c) { wav(c, 8, O_WRONLY | O_CREAT | O_TRUNC, 200000); }),
        with("WavPipe", [](Case& c) { wav(c, 2, 0); }),
        // --output: the program opens the file itself, cutting off the 4 MiB it held; nothing on standard output.
        with("WavOutputOption", [](Case& c) {
            wav(c, 6, O_WRONLY | O_CREAT | O_TRUNC);
            c.start = [] { std::ofstream("capture.wav") << std::string(1 << 22, 'x'); };
            c.args.insert(c.args.end(), {"--output", "capture.wav"});
        }),
        with("WavFileAppended", [](Case& c) { wav(c, 2, O_WRONLY | O_CREAT | O_APPEND); }),
        // The write blocked on the full pipe is cancelled: the run still ends in order.
        with("CtrlCWhileTheReaderStalls", [](Case& c) { c.readUpTo = c.afterBytes = c.minOut = 38400, c.stalls = true; })),
    [](const auto& info) { return info.param.name; });

}  // namespace
