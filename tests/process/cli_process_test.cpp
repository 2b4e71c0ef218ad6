// The command line as a user meets it: help and version, WAVE files and pipes
// read back by sox, and the live meter on a pseudo-terminal.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

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
    bool toFile;       // else a pipe
    rlim_t sizeLimit;  // the file fills up; 0: stopped after a second (as by Ctrl+C: the same ending)
    bool append = false;  // the file opened for appending, as `>>` does
};

class Wav : public ::testing::TestWithParam<WavCase> {};

// A file gets its sizes however the capture stops, a pipe the streaming
// maximum; sox decodes the samples that were written (its integer samples
// inside may change the last bit), and standard error is as without --wav.
TEST_P(Wav, IsReadBackBySox) {
    const WavCase& c = GetParam();
    const TempDir dir;
    const std::string path = dir.path() + "/capture.wav";
    ChildOptions options = procloop({"--pid", "1234", "--wav", "--channels", std::to_string(c.channels)});
    if (c.sizeLimit == 0) options.argv.insert(options.argv.end(), {"--duration", "1"});
    if (c.toFile && !c.append) options.stdoutPath = path;
    const rlimit limit{c.sizeLimit, c.sizeLimit};
    options.inChild = [&] {
        if (c.sizeLimit != 0) ::setrlimit(RLIMIT_FSIZE, &limit);
        if (c.append) ::dup2(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), 1);
    };
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead(1234, false, c.channels) + kStopped);

    std::vector<unsigned char> bytes = r.out;
    if (c.toFile) {
        std::ifstream file(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } else {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    const std::size_t header = c.channels > 2 ? 104 : 82;
    ASSERT_GT(bytes.size(), header + 48000);
    if (c.sizeLimit != 0) {
        EXPECT_EQ(bytes.size(), c.sizeLimit);
    } else {
        EXPECT_EQ((bytes.size() - header) % (4 * c.channels), 0u) << "not whole frames after the header";
    }
    const bool sized = c.toFile && !c.append;  // appending, the sizes cannot be patched
    EXPECT_EQ(le32(bytes, 4), sized ? bytes.size() - 8 : 0xFFFFFFFF);
    EXPECT_EQ(le32(bytes, header - 4), sized ? bytes.size() - header : 0xFFFFFFFF);

    EXPECT_EQ(sox({"--i", "-c", path}) + sox({"--i", "-r", path}), std::to_string(c.channels) + "\n48000\n");
    const std::string decoded = sox({"-V1", path, "-t", "f32", "-"});
    ASSERT_EQ(decoded.size(), (bytes.size() - header) / (4 * c.channels) * (4 * c.channels));
    std::vector<float> got(decoded.size() / 4), written(got.size());
    std::memcpy(got.data(), decoded.data(), decoded.size());
    std::memcpy(written.data(), bytes.data() + header, decoded.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], written[i], 1e-6f) << i;
}

INSTANTIATE_TEST_SUITE_P(WaysOut, Wav,
                         ::testing::Values(WavCase{"FileStopped", 2, true, 0}, WavCase{"FileFull", 2, true, 100003},
                                           WavCase{"FileFull8", 8, true, 200000},
                                           WavCase{"Pipe", 2, false, 0}, WavCase{"FileAppended", 2, true, 0, true}),
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
