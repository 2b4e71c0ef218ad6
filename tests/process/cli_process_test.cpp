// The command line as a user meets it: help and version, a WAVE file read
// back by sox, and the live meter on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "background_process.h"
#include "host_run.h"

namespace {

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::string sox(const std::vector<std::string>& args) {
    ChildOptions options;
    options.argv = {"sox"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    const ChildResult r = runChild(options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return std::string(r.out.begin(), r.out.end());
}

// --- --help and --version --------------------------------------------------

struct Request {
    std::vector<std::string> args;
    bool help;
};

class Requests : public ::testing::TestWithParam<Request> {};

TEST_P(Requests, AnswerOnStandardOutputAndSucceed) {
    const ChildResult r = runChild(procloop(GetParam().args));
    const std::string out(r.out.begin(), r.out.end());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    if (!GetParam().help) {
        EXPECT_EQ(out, std::string("procloop ") + PROCLOOP_VERSION + "\n");
        return;
    }
    EXPECT_EQ(out.rfind("usage: procloop ", 0), 0u) << out;
    for (const char* line : {"\n  --pid <pid>  ", "\n  --hwnd <hwnd>  ", "\n  --sample-rate <hz>  ", "\n  --channels <n>  ",
                             "\n  --include-child-processes  ", "\n  --wav  ", "\n  --help  ", "\n  --version  ",
                             "\nexample: procloop --pid 1234 --include-child-processes --wav > capture.wav\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Anywhere, Requests,
                         ::testing::Values(Request{{"--help"}, true}, Request{{"--pid", "abc", "--help"}, true},
                                           Request{{"--version", "--pid", "1234"}, false},
                                           Request{{"--hwnd", "x", "--version", "--help"}, false}));

// --- --wav ------------------------------------------------------------------

std::vector<float> floatsOf(const unsigned char* bytes, std::size_t count) {
    std::vector<float> samples(count);
    if (count != 0) std::memcpy(samples.data(), bytes, count * sizeof(float));
    return samples;
}

// The samples behind the header as sox decodes them are the ones in the file.
// sox carries samples as 32-bit integers inside, so the last bit may differ.
void expectSoxReadsTheSamples(const std::string& path, const std::vector<unsigned char>& bytes, unsigned channels,
                              std::size_t headerBytes) {
    EXPECT_EQ(sox({"--i", "-c", path}), std::to_string(channels) + "\n");
    EXPECT_EQ(sox({"--i", "-r", path}), "48000\n");
    const std::string decoded = sox({"-V1", path, "-t", "f32", "-"});
    const std::size_t frames = (bytes.size() - headerBytes) / (4 * channels);
    ASSERT_GT(frames, 0u);
    ASSERT_EQ(decoded.size(), frames * channels * 4);
    const std::vector<float> got = floatsOf(reinterpret_cast<const unsigned char*>(decoded.data()), frames * channels);
    const std::vector<float> written = floatsOf(bytes.data() + headerBytes, frames * channels);
    float worst = 0.0f;
    for (std::size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::fabs(got[i] - written[i]));
    EXPECT_LT(worst, 1e-6f);
    EXPECT_GT(*std::max_element(written.begin(), written.end()), 0.2f);  // the tone, not silence
}

struct FileCase {
    const char* name;
    unsigned channels;
    rlim_t sizeLimit;  // 0: stopped with Ctrl+C instead
};

class WavFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(WavFile, GetsItsSizesWhenTheCaptureStops) {
    const FileCase& c = GetParam();
    const TempDir dir;
    const std::string path = dir.path() + "/capture.wav";
    ChildOptions options = procloop({"--pid", "1234", "--wav", "--channels", std::to_string(c.channels)});
    options.stdoutPath = path;
    if (c.sizeLimit != 0) options.limits = {{RLIMIT_FSIZE, c.sizeLimit}};
    options.signalWhenErrContains = c.sizeLimit != 0 ? "" : "capture started";
    options.signalAfterOutBytes = 0;
    if (c.sizeLimit == 0) options.beforeSignal = [](pid_t) { ::usleep(300000); };
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("info: capture stopped\n"), std::string::npos);

    const std::vector<unsigned char> bytes = readFile(path);
    const std::size_t headerBytes = c.channels > 2 ? 104 : 82;
    ASSERT_GT(bytes.size(), headerBytes);
    if (c.sizeLimit != 0) {
        EXPECT_EQ(bytes.size(), c.sizeLimit);
    }
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(le32(bytes, headerBytes - 4), bytes.size() - headerBytes);
    expectSoxReadsTheSamples(path, bytes, c.channels, headerBytes);
}

INSTANTIATE_TEST_SUITE_P(WaysOut, WavFile,
                         ::testing::Values(FileCase{"CtrlC", 2, 0}, FileCase{"CtrlC6", 6, 0},
                                           FileCase{"FileFull", 2, 100003}, FileCase{"FileFull8", 8, 200000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WavPipe, CarriesTheStreamingSizesAndTheSameLines) {
    ChildOptions options = procloop({"--pid", "1234", "--wav"});
    options.signalWhenErrContains = "capture started";
    options.signalAfterOutBytes = 48000;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, captureHead() + kStopped);  // standard error as without --wav, byte for byte
    ASSERT_GT(r.out.size(), 82u);
    EXPECT_EQ(le32(r.out, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(r.out, 78), 0xFFFFFFFFu);
    const TempDir dir;
    const std::string path = dir.path() + "/piped.wav";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(r.out.data()),
                                                static_cast<std::streamsize>(r.out.size()));
    expectSoxReadsTheSamples(path, r.out, 2, 82);
}

// --- the live meter -----------------------------------------------------------

// What a terminal shows once the text is drawn: carriage returns overwrite.
std::string screenOf(const std::string& text) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (const char ch : text) {
        if (ch == '\r') {
            column = 0;
        } else if (ch == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            std::string& line = lines.back();
            if (column < line.size()) line[column] = ch; else line += ch;
            ++column;
        }
    }
    std::string screen;
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
        screen += line + "\n";
    }
    return screen.substr(0, screen.size() - 1);
}

TEST(Meter, IsKeptOnAConsoleAndLeavesOnlyTheDiagnosticLines) {
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), 1);  // the samples; standard error stays the terminal
        ::closefrom(3);
        resetSignalsForExec();
        ::execl(PROCLOOP_HOST_BINARY, PROCLOOP_HOST_BINARY, "--pid", "1234", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string text;
    bool stopped = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fd{terminal, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) continue;
        char chunk[4096];
        const ssize_t got = ::read(terminal, chunk, sizeof chunk);
        if (got <= 0) break;  // the program and its terminal are gone
        text.append(chunk, static_cast<std::size_t>(got));
        // Two lines of the meter: it is redrawn, not printed once.
        const std::size_t first = text.find(" dBFS");
        if (!stopped && first != std::string::npos && text.find(" dBFS", first + 1) != std::string::npos) {
            stopped = ::write(terminal, "\x03", 1) == 1;  // Ctrl+C typed: the terminal echoes "^C" too
        }
    }
    int status = 0;
    if (!stopped) ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    ASSERT_TRUE(stopped) << text;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The stand-in's tone peaks at 0.25 on both channels.
    EXPECT_NE(text.find(" MiB  -12.0 -12.0 dBFS"), std::string::npos) << text;
    EXPECT_EQ(screenOf(text), captureHead() + kStopped);
}

}  // namespace
