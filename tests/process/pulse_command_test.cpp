// `procloop -- <command>` and `--wait --name` against the private servers: where
// the command's first sample lands, what the run says and exits with.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <tuple>

#include <gtest/gtest.h>

#include "audio_server.h"
#include "output/wav_header.h"
#include "tone.h"

namespace {

// The ramp's frame n is (n + 1) / 100000 on both channels: the first value
// captured tells how many frames of the player's start were missed.
constexpr std::size_t kRampFrames = 48000;
float rampAt(std::size_t n) { return static_cast<float>(n + 1) / 100000.0f; }

// What is done to the run 1 s after the capture started (or procloop said it waits).
enum class Act { None, CtrlCToTheGroup, StartLatePlayer, CtrlC };
enum class Out { Nothing, Ramp, Tone };

struct Row {
    const char* name;
    std::vector<std::string> args;  // "$LATE": a copy of the test player under a name of this run's
    int exitCode;
    std::string err;  // "{head}": the capture's first lines for the pid it names
    Out out = Out::Nothing;
    Act act = Act::None;
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const std::string kEnd = "info: target process exited\ninfo: capture stopped\n";
const std::string kArgs = "printf '[%s]' \"$@\"; echo; exec paplay ramp.wav";

const Row kRows[] = {
    // Its arguments intact, its standard output on ours, its exit status ours, the ramp exact from its start.
    {"FromItsFirstSample", {"--", "sh", "-c", kArgs, "sh", "a b", "q\"u'o", "", "back\\slash"}, 0,
     "{head}[a b][q\"u'o][][back\\slash]\n" + kEnd, Out::Ramp},
    {"PwPlayFromItsFirstSample", {"--", "pw-play", "ramp.wav"}, 0, "{head}" + kEnd, Out::Ramp},
    {"OutputToAFile", {"--command-output", "said.txt", "--", "sh", "-c", "echo said >&2; echo to-file; exit 3"}, 3,
     "{head}said\n" + kEnd},
    {"KilledBySignal", {"--", "sh", "-c", "kill -TERM $$"}, 128 + SIGTERM, "{head}" + kEnd},
    {"NotFound", {"--", "no-such-command"}, 127, "error: command not found: no-such-command\n"},
    {"NotRunnable", {"--", "./ramp.wav"}, 126, "error: cannot run ./ramp.wav: Permission denied\n"},
    {"CannotWriteItsOutput", {"--command-output", "no/such/dir", "--", "true"}, 1,
     "error: could not open no/such/dir: No such file or directory\n"},
    // procloop stops its capture, then waits for the command, which the terminal interrupted too.
    {"CtrlC", {"--", "./$LATE", "t"}, 128 + SIGINT, "{head}info: capture stopped\n", Out::Tone, Act::CtrlCToTheGroup},
    // The duration counts from the capture's start, not the wait's.
    {"WaitForName", {"--wait", "--name", "$LATE", "--include-child-processes", "--duration", "1"}, 0,
     "info: waiting for $LATE\n{head}info: capture stopped\n", Out::Tone, Act::StartLatePlayer},
    {"StoppedWhileWaiting", {"--wait", "--name", "$LATE"}, 0,
     "info: waiting for $LATE\ninfo: stopped while waiting for $LATE\n", Out::Nothing, Act::CtrlC},
};

class PulseCommand : public testing::TestWithParam<std::tuple<Row, std::string>> {};

TEST_P(PulseCommand, RunsItFromItsFirstSample) {
    const Row& row = std::get<0>(GetParam());
    const bool pipeWire = std::get<1>(GetParam()) == "pipewire";
    AudioServer& srv = audioServer(std::get<1>(GetParam()));
    const std::string late = "late" + std::to_string(::getpid());
    if (!std::filesystem::exists(srv.dir + "/" + late)) {
        std::vector<float> samples;
        for (std::size_t n = 0; n < kRampFrames; ++n) samples.insert(samples.end(), 2, rampAt(n));
        unsigned char header[kWavHeaderMaxBytes];
        std::ofstream ramp(srv.dir + "/ramp.wav", std::ios::binary);
        ramp.write(reinterpret_cast<const char*>(header), static_cast<std::streamsize>(buildWavHeader(header, 48000, 2, samples.size() * 4)));
        ramp.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
        std::filesystem::copy_file(CORK_PLAYER, srv.dir + "/" + late);
    }
    const std::regex lateName("\\$LATE");
    ChildOptions options = procloop({}, srv.env);
    for (const std::string& arg : row.args) options.argv.push_back(std::regex_replace(arg, lateName, late));
    options.workingDirectory = srv.dir;
    options.inChild = [] { ::setpgid(0, 0); };  // a terminal's job: Ctrl+C goes to the group
    pid_t player = 0;
    bool acted = false;
    auto since = std::chrono::steady_clock::time_point::max();
    options.onProgress = [&](pid_t pid, const ChildResult& soFar) {
        const bool begun = soFar.err.find("capture started") != std::string::npos || soFar.err.find("waiting") != std::string::npos;
        if (since == since.max() && begun) since = std::chrono::steady_clock::now();
        if (acted || since == since.max() || std::chrono::steady_clock::now() - since < std::chrono::seconds(1)) return;
        acted = true;
        if (row.act == Act::CtrlCToTheGroup) ::kill(-pid, SIGINT);
        if (row.act == Act::CtrlC) ::kill(pid, SIGINT);
        if (row.act == Act::StartLatePlayer && player == 0) player = spawnProcess({srv.dir + "/" + late, "t"}, srv.env, srv.dir + "/late.log");
    };
    const ChildResult r = runChild(options);
    if (player != 0) killTree(player);

    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
    std::smatch pid;
    std::regex_search(r.err, pid, std::regex("info: pid=(\\d+)"));
    std::string head = captureHead(pid.empty() ? 0 : std::stoul(pid.str(1)), true);
    head.insert(head.find('\n') + 1, "info: audio server " + srv.ready + "\n");
    // Ctrl+C to the group ends the command too: whether procloop sees the
    // command's exit or its own signal first is the scheduler's choice.
    const std::string err = row.act != Act::CtrlCToTheGroup
                                ? r.err
                                : std::regex_replace(r.err, std::regex("info: target process exited\n(info: capture stopped\n)$"), "$1");
    EXPECT_EQ(err, std::regex_replace(std::regex_replace(row.err, std::regex("\\{head\\}"), head), lateName, late));
    if (row.exitCode == 3) {
        std::ifstream said(srv.dir + "/said.txt");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(said), {}), "to-file\n");
    }

    const std::size_t frames = r.out.size() / 8;
    EXPECT_TRUE(row.out != Out::Nothing || r.out.empty()) << r.out.size() << " bytes";
    if (row.out == Out::Tone) {
        EXPECT_GE(frames, 48000u * 4 / 10);
        EXPECT_GT(level(r.out, 48000, 2, 0, 440, 0, frames), 0.1);
    }
    if (row.out != Out::Ramp) return;
    // How much of the player's start the capture missed (see the README): the first value
    // tells. Then each frame is the ramp's or, where the server dropped audio under
    // load, zeros; nothing else, such as the command's text, is ever in the samples.
    const auto rampIndex = [&r](std::size_t frame) {
        float value[2];
        std::memcpy(value, &r.out[frame * 8], 8);
        const long n = std::lround(value[0] * 100000.0f) - 1;
        const bool ramp = n >= 0 && n < static_cast<long>(kRampFrames) && value[0] == rampAt(n) && value[1] == value[0];
        return ramp ? n : value[0] == 0.0f && value[1] == 0.0f ? -1 : -2;
    };
    long missed = -1, last = -1;
    std::size_t foreign = 0;
    for (std::size_t n = 0; n < frames; ++n) {
        const long at = rampIndex(n);
        foreign += at == -2;
        if (missed < 0) missed = at;
        last = std::max(last, at);
    }
    EXPECT_TRUE(missed >= 0 && missed <= (pipeWire ? 2048 : 480)) << missed;
    EXPECT_EQ(foreign, 0u);
    // Drained to the end once the player exits (pw-play 0.3.65 itself leaves its last 128 frames unplayed).
    EXPECT_EQ(last, static_cast<long>(std::string(row.name) == "PwPlayFromItsFirstSample" ? kRampFrames - 129 : kRampFrames - 1));
}

std::vector<PulseCommand::ParamType> cases() {
    std::vector<PulseCommand::ParamType> all;
    for (const std::string kind : {"pulseaudio", "pipewire"})
        for (const Row& row : kRows)
            if (kind == "pipewire" || std::string(row.name) != "PwPlayFromItsFirstSample") all.emplace_back(row, kind);
    return all;
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseCommand, testing::ValuesIn(cases()), [](const auto& info) {
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) == "pipewire" ? "_PipeWire" : "_PulseAudio");
});

}  // namespace
