// The command line as a user meets it: help and version, WAVE files and pipes
// read by sox, and the live meter on a pseudo-terminal.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "output/wav_header.h"

namespace {

std::string sox(std::vector<std::string> args) {
    args.insert(args.begin(), "sox");
    ChildOptions options;
    options.argv = args;
    const ChildResult r = runChild(options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return std::string(r.out.begin(), r.out.end());
}

// The usage is built from the parser's own table, so only its frame is checked here.
TEST(Requests, AnswerOnStandardOutputWhateverElseIsGiven) {
    const ChildResult version = runChild(procloop({"--hwnd", "x", "--version", "--help"}));
    const ChildResult help = runChild(procloop({"--pid", "abc", "--help"}));
    EXPECT_EQ(std::string(version.out.begin(), version.out.end()), std::string("procloop ") + PROCLOOP_VERSION + "\n");
    const std::string usage(help.out.begin(), help.out.end());
    EXPECT_EQ(usage.rfind("usage: procloop ", 0), 0u) << usage;
    EXPECT_NE(usage.find("\n  --wav  "), std::string::npos) << usage;
    EXPECT_EQ(version.exitCode + help.exitCode, 0);
    EXPECT_EQ(version.err + help.err, "");
}

struct WavCase {
    const char* name;
    unsigned channels;
    enum Out { File, Pipe, Appended } out;  // Appended: to a file opened as `>>` does
    rlim_t sizeLimit;  // the file fills up; 0: stopped after a second (as by Ctrl+C: the same ending)
};

class Wav : public ::testing::TestWithParam<WavCase> {};

// A file gets its sizes however the capture stops, a pipe or a file it cannot
// seek in the streaming maximum; sox reads the header, and standard error is
// as without --wav. (What follows the header is the raw stream's part.)
TEST_P(Wav, IsReadBySox) {
    const WavCase& c = GetParam();
    const TempDir dir;
    const std::string path = dir.path() + "/capture.wav";
    ChildOptions options = procloop({"--pid", "1234", "--wav", "--channels", std::to_string(c.channels)});
    if (c.sizeLimit == 0) options.argv.insert(options.argv.end(), {"--duration", "1"});
    if (c.out == WavCase::File) options.stdoutPath = path;
    const rlimit limit{c.sizeLimit, c.sizeLimit};
    options.inChild = [&] {
        if (c.sizeLimit != 0) ::setrlimit(RLIMIT_FSIZE, &limit);
        if (c.out == WavCase::Appended) ::dup2(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), 1);
    };
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead(1234, false, c.channels) + kStopped);

    if (c.out == WavCase::Pipe) std::ofstream(path).write(reinterpret_cast<const char*>(r.out.data()), r.out.size());
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::size_t header = c.channels > 2 ? 104 : 82;
    ASSERT_GT(bytes.size(), header + 48000);
    // Filled up to the last byte, a part of a sample too; stopped, with whole frames.
    EXPECT_EQ(c.sizeLimit != 0 ? bytes.size() - c.sizeLimit : (bytes.size() - header) % (4 * c.channels), 0u);
    unsigned char expected[kWavHeaderMaxBytes];
    buildWavHeader(expected, 48000, c.channels, c.out == WavCase::File ? bytes.size() - header : kWavStreaming);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + header),
              std::vector<unsigned char>(expected, expected + header));
    EXPECT_EQ(sox({"--i", "-c", path}) + sox({"--i", "-r", path}) + sox({"--i", "-e", path}),
              std::to_string(c.channels) + "\n48000\nFloating Point PCM\n");
}

INSTANTIATE_TEST_SUITE_P(WaysOut, Wav,
                         ::testing::Values(WavCase{"FileStopped", 2, WavCase::File, 0},
                                           WavCase{"FileFull", 2, WavCase::File, 100003},
                                           WavCase{"FileFull8", 8, WavCase::File, 200000},
                                           WavCase{"Pipe", 2, WavCase::Pipe, 0},
                                           WavCase{"FileAppended", 2, WavCase::Appended, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

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

}  // namespace
