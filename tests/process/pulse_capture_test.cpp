// The shipped binary against private PulseAudio and PipeWire servers, one table
// of scenarios run on each kind: which streams it records as players start,
// end, move, pause and are muted, the formats it asks for, and how runs end.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "audio_server.h"
#include "tone.h"

namespace {

// `sh -c script` among the tone files (<hz>.wav: 20 s, 48 kHz stereo float) with
// $T its tag, $PLAY paplay naming its stream $T, $CORK the test-only player and
// $TARGET the pid given; killed with its whole tree when it goes.
struct Player {
    Player(const AudioServer& server, const std::string& script, pid_t target = 0) : tag("p" + std::to_string(++count)) {
        Environment env = server.env;
        env.insert(env.end(), {{"T", tag}, {"PLAY", "paplay --latency-msec=50 --stream-name=" + tag},
                               {"CORK", CORK_PLAYER}, {"TARGET", std::to_string(target)},
                               {"SINKS", server.ready.rfind("pulseaudio", 0) == 0 ? "out,out2,out3,out4,out5" : "out"}});
        pid = spawnProcess({"sh", "-c", "cd " + server.dir + " || exit; " + script}, env, server.dir + "/" + tag);
    }
    ~Player() { killTree(pid); }
    static inline int count = 0;
    std::string tag;
    pid_t pid;
};

// The indexes of a player's sink-inputs once `count` play (uncorked); fails the test after 500 looks (10 s or more).
std::vector<long> streams(const AudioServer& server, const Player& player, std::size_t count) {
    std::vector<long> found;
    std::string list;
    for (int looks = 0; found.size() < count && looks < 500; ++looks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        list = outputOf({"pactl", "list", "sink-inputs"}, server.env);
        found.clear();
        for (std::size_t at = list.find("Sink Input #"), next = 0; at != std::string::npos; at = next) {
            next = list.find("Sink Input #", at + 1);
            const std::string block = list.substr(at, next - at);  // on PipeWire: once linked to a sink
            if (block.find("\"" + player.tag + "\"") != std::string::npos && block.find("Corked: no") != std::string::npos)
                found.push_back(std::atol(list.c_str() + at + 12));
        }
    }
    if (found.size() < count) ADD_FAILURE() << player.tag << " started " << found.size() << " of " << count << " stream(s):\n" << list;
    return found;
}

// What happens 0.5 s into the capture (Mute: just before it starts).
// List: instead of a capture, --list with the target paused for good.
// EndInput, EndInputStalled: as Stop, StopStalled, by closing standard input (--stop-with-stdin).
// Many: kMany tones, each its own stream, all present, beside a reference of out.monitor.
// Churn: players come and go in and out of the tree; the capture ends as it began.
enum class Event { None, Mute, Go, End, TargetExits, Move, Cork, Stall, StopStalled, EndInput, EndInputStalled,
                   CloseReader, ReaderGone, List, Kill, Many, Churn };
constexpr unsigned kMany = 128;

struct Scenario {
    const char* name;
    const char* target;           // the target's script (see Player), beside a player of 660 Hz
    bool include;                 // --include-child-processes
    std::size_t streams;          // how many it plays before the capture starts
    std::vector<double> present;  // in the first and (unless the run ends early) last 0.3 s, channels 0 and 1
    std::vector<double> absent;   // anywhere
    Event event = Event::None;
    double seconds = 1.0;              // Ctrl+C this long after the capture started
    double minSec = 0.6, maxSec = 60;  // of audio in the output
    unsigned rate = 48000, channels = 2;
    bool continuous = false;  // --continuous: the corked time is in the stream as zeros
    const char* other = "exec $PLAY 660.wav";  // the other player's script, with two streams if it has '&'
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

const char* const kTone = "exec $PLAY 440.wav";
const char* const kChild = "$PLAY 440.wav; :";  // the shell waits for its child
const char* const kPwPlay = "exec pw-play -P \"{ node.name = $T }\" 440.wav";
// A native PipeWire player outside the target's tree whose stream claims the target's pid.
const char* const kSpoofer =
    "PIPEWIRE_PROPS=\"{ application.process.id = $TARGET node.name = $T }\" pw-play 550.wav & exec $PLAY 660.wav";

// 30 players of 0.1 s each at <hz> Hz ($T.warm after 10), then $T.done and exec <command>.
#define CHURN(hz, command) "for i in $(seq 30); do $CORK $T 1 " hz " & sleep 0.1; kill $!; " \
    "[ $i = 10 ] && : >$T.warm; done; : >$T.done; exec " command

const Scenario kScenarios[] = {
    {"Include", kTone, true, 1, {440}, {660}},
    {"Exclude", kTone, false, 1, {660}, {440}},
    {"IncludeChild", kChild, true, 1, {440}, {660}},
    {"ExcludeChild", kChild, false, 1, {660}, {440}},
    {"TwoStreamsMixed", "$PLAY 550.wav & exec $PLAY 440.wav", true, 2, {440, 550}, {660}},
    // Nothing is written before the child plays.
    {"ChildStartsLater", "until [ -e $T.go ]; do sleep 0.02; done; $PLAY 440.wav; :", true, 0, {440}, {660}, Event::Go,
     1.5, 0.5, 1.0},
    // No packets once it ended: on PipeWire a monitor of an ended stream would move on to the whole mix.
    {"TargetStreamEnds", kTone, true, 1, {440}, {660}, Event::End, 1.5, 0.3, 0.9},
    // With --stop-with-target the player's end ends the capture.
    {"StopWithTarget", kTone, true, 1, {440}, {660}, Event::TargetExits, 30, 0.3, 0.9},
    {"MovedToAnotherSink", kTone, true, 1, {440}, {660, 770}, Event::Move, 2.0, 1.4},
    // Corked for 0.6 s: PulseAudio delivers silence meanwhile, PipeWire nothing.
    {"CorkedThenResumed", "exec $CORK $T", true, 1, {440}, {660}, Event::Cork, 1.8},
    {"CorkedContinuous", "exec $CORK $T", true, 1, {440}, {660}, Event::Cork, 1.8, 1.6, 1.95, 48000, 2, true},
    {"MutedInTheMixer", kTone, true, 1, {}, {440, 660}, Event::Mute},
    {"Mono44100", kTone, true, 1, {440}, {660}, Event::None, 1.0, 0.6, 60, 44100, 1},
    {"EightChannels", kTone, true, 1, {440}, {660}, Event::None, 1.0, 0.6, 60, 48000, 8},
    {"NothingPlaying", "exec sleep 60", true, 0, {}, {}, Event::None, 0.3, 0, 0},
    {"ReaderCloses", kTone, true, 1, {440}, {660}, Event::CloseReader, 30, 0.25},
    // Nothing is written while nothing plays, yet the reader's going is noticed.
    {"ReaderGoneWhileSilent", "exec sleep 60", true, 0, {}, {}, Event::ReaderGone, 30, 0, 0},
    // The reader stalls 1.5 s: the pipe and the 200 ms buffer fill, the oldest
    // audio is dropped, and the capture carries on with the newest.
    {"SlowReader", kTone, true, 1, {440}, {660}, Event::Stall, 3.0, 1.0, 2.2},
    // The reader stops for good after 0.3 s: Ctrl+C still ends the run, though an
    // 8-channel packet is more than a pipe takes at once and its write was cut part way.
    {"CtrlCWhileTheReaderStalls", kTone, true, 1, {440}, {660}, Event::StopStalled, 1.0, 0.3, 60, 48000, 8},
    // A parent stops it by closing its input, what it wrote before ignored, as Ctrl+C does; stalled too.
    {"InputEnds", kTone, true, 1, {440}, {660}, Event::EndInput},
    {"InputEndsWhileTheReaderStalls", kTone, true, 1, {440}, {660}, Event::EndInputStalled, 1.0, 0.3, 60, 48000, 8},
    // On PipeWire only: a native stream carries no process id of its own; its client does.
    {"PwPlayIncluded", kPwPlay, true, 1, {440}, {660}},
    {"PwPlayExcluded", kPwPlay, false, 1, {660}, {440}},
    // The server's word (pipewire.sec.pid) is taken over what a native stream claims.
    {"PwPlaySpoofNotIncluded", kTone, true, 1, {440}, {550, 660}, Event::None, 1.0, 0.6, 60, 48000, 2, false, kSpoofer},
    {"PwPlaySpoofExcluded", kTone, false, 1, {550, 660}, {440}, Event::None, 1.0, 0.6, 60, 48000, 2, false, kSpoofer},
    // A process that plays and one whose stream is paused.
    {"List", "exec $CORK $T", true, 1, {}, {}, Event::List},
    {"ManyStreams", "exec $CORK $T 128 1000 40 $SINKS", true, kMany, {}, {660}, Event::Many, 30, 0.3, 60, 48000, 2,
     false, "exec $PLAY -d out2 660.wav"},
    {"Churn", CHURN("1000", "$CORK $T"), true, 0, {}, {660, 1500}, Event::Churn, 60, 0.6, 60, 48000, 2, false,
     CHURN("1500", "$PLAY 660.wav")},
    // The server dies; the next test starts another. 12-byte frames would show a cut one.
    {"ServerKilled", kTone, true, 1, {440}, {660}, Event::Kill, 30, 0.3, 60, 48000, 3},
};

// --list until the pause has reached the server: each playing process with its
// state and root, by pid.
void expectList(const AudioServer& srv, const Player& paused, const Player& playing) {
    ::kill(paused.pid, SIGUSR1);
    const auto row = [](pid_t pid, const char* state, const char* exe) {
        return std::to_string(pid) + "\t" + state + "\t" + exe + "\t" + std::to_string(pid) + "\n";
    };
    // paplay is pacat under another name; the executable is the file that runs.
    const std::string player = std::filesystem::read_symlink("/proc/" + std::to_string(playing.pid) + "/exe").filename();
    const std::string rows[] = {row(playing.pid, "active", player.c_str()), row(paused.pid, "inactive", "cork_player")};
    const std::string expected =
        "pid\tstate\texecutable\troot\n" + (playing.pid < paused.pid ? rows[0] + rows[1] : rows[1] + rows[0]);
    std::string listed;  // each look exits with 0
    for (int looks = 0; looks < 100 && listed != expected; ++looks) {
        if (looks > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        listed = outputOf({PROCLOOP_HOST_BINARY, "--list"}, srv.env);
    }
    EXPECT_EQ(listed, expected) << outputOf({"pactl", "list", "sink-inputs"}, srv.env);
}

class PulseCapture : public testing::TestWithParam<std::tuple<Scenario, std::string>> {
protected:
    AudioServer& server() { return audioServer(std::get<1>(GetParam())); }
    void TearDown() override {
        // Many: a PipeWire server that carried so many takes a while to recover.
        const Event e = std::get<0>(GetParam()).event;
        if (e == Event::Kill || e == Event::Many) retireAudioServer(std::get<1>(GetParam()));
    }
};

TEST_P(PulseCapture, RecordsWhatItShould) {
    const Scenario& s = std::get<0>(GetParam());
    AudioServer& srv = server();
    const bool move = s.event == Event::Move;  // to where another player plays 770 Hz
    Player target(srv, s.target), other(srv, move ? "$PLAY -d out2 770.wav & exec $PLAY 660.wav" : s.other, target.pid);
    const std::vector<long> ours = streams(srv, target, s.streams);
    streams(srv, other, move || (std::strchr(s.other, '&') != nullptr && s.event != Event::Churn) ? 2 : 1);
    if (s.event == Event::Mute) outputOf({"pactl", "set-sink-input-mute", std::to_string(ours.at(0)), "1"}, srv.env);
    if (s.event == Event::List) return expectList(srv, target, other);

    ChildOptions options = procloop({"--pid", std::to_string(target.pid), "--sample-rate", std::to_string(s.rate),
                                     "--channels", std::to_string(s.channels)},
                                    srv.env);
    if (s.include) options.argv.emplace_back("--include-child-processes");
    if (s.event == Event::TargetExits) options.argv.emplace_back("--stop-with-target");
    if (s.continuous) options.argv.emplace_back("--continuous");
    // A sanitizer's quarantine would keep every freed block resident: the churn measures procloop's own.
    const char* asan = std::getenv("ASAN_OPTIONS");
    if (s.event == Event::Churn) options.env.emplace_back("ASAN_OPTIONS", std::string(asan ? asan : "") + ":quarantine_size_mb=0");
    if (s.event == Event::CloseReader) options.closeStdoutAfter = 48000 * 8 / 4;
    if (s.event == Event::ReaderGone) options.closeStdoutAfter = 0;
    const bool byInput = s.event == Event::EndInput || s.event == Event::EndInputStalled;
    if (byInput) options.argv.emplace_back("--stop-with-stdin");
    InputPipe input(options, "q\n");
    if (!byInput) input.close();  // at its end from the start, and unread: the run goes on
    if (s.event == Event::StopStalled || s.event == Event::EndInputStalled) options.stallStdoutAfter = 48000 * 32 * 3 / 10;
    bool acted = false, resumed = false, interrupted = false;
    // Churn: procloop's resident KiB, descriptors, threads and source-outputs recording, once warm and once done.
    std::vector<long> warm, done;
    double stopAt = 1e9;
    const auto sample = [&](pid_t pid) {
        const std::string proc = "/proc/" + std::to_string(pid), outputs = outputOf({"pactl", "list", "source-outputs"}, srv.env);
        std::ifstream status(proc + "/status");
        std::string line;
        while (std::getline(status, line) && line.rfind("VmRSS:", 0) != 0) {}
        const auto count = [](const std::string& dir) {
            return static_cast<long>(std::distance(std::filesystem::directory_iterator(dir), {}));
        };
        long ours = 0;  // recording (on PipeWire: once linked)
        for (std::size_t at = outputs.find("Source Output #"), next = 0; at != std::string::npos; at = next) {
            next = outputs.find("Source Output #", at + 1);
            const std::string block = outputs.substr(at, next - at);
            ours += block.find("Corked: no") != std::string::npos &&
                    block.find("application.process.id = \"" + std::to_string(pid) + "\"") != std::string::npos;
        }
        return std::vector<long>{std::atol(line.c_str() + 6), count(proc + "/fd"), count(proc + "/task"), ours};
    };
    const auto exists = [&](const char* suffix) { return std::filesystem::exists(srv.dir + "/" + target.tag + suffix); };
    // Many: the server's own mix of out, recorded meanwhile.
    const std::string reference = srv.dir + "/" + target.tag + ".ref";
    const pid_t parec = s.event != Event::Many ? 0 : spawnProcess({"parec", "--raw", "--format=float32le", "--rate=48000",
        "--channels=2", "--latency-msec=10", "--device=out.monitor"}, srv.env, reference);
    using Clock = std::chrono::steady_clock;
    Clock::time_point started = Clock::time_point::max();
    options.onProgress = [&](pid_t pid, const ChildResult& soFar) {
        if (started == Clock::time_point::max() && soFar.err.find("capture started") != std::string::npos)
            started = Clock::now();
        const double t = std::chrono::duration<double>(Clock::now() - started).count();  // < 0 before it started
        if (!acted && t >= 0.5) {
            acted = true;
            if (s.event == Event::Go) std::ofstream(srv.dir + "/" + target.tag + ".go");
            // The player itself, left unreaped as by a parent that has not looked yet.
            if (s.event == Event::End || s.event == Event::TargetExits) ::kill(target.pid, SIGKILL);
            if (move) outputOf({"pactl", "move-sink-input", std::to_string(ours.at(0)), "out2"}, srv.env);
            if (s.event == Event::Cork) ::kill(target.pid, SIGUSR1);
            if (s.event == Event::Stall) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            pid_t server = 0;  // the one the clients talk to, killed as by a crash
            if (s.event == Event::Kill && std::ifstream(srv.dir + "/pids") >> server) ::kill(server, SIGKILL);
        }
        if (s.event == Event::Cork && !resumed && t >= 1.1) resumed = ::kill(target.pid, SIGUSR2) == 0;
        if (s.event == Event::Churn && warm.empty() && exists(".warm")) warm = sample(pid);
        // Done, and its last stream recorded: what the churn left behind.
        if (s.event == Event::Churn && !warm.empty() && done.empty() && exists(".done") && streams(srv, target, 1).size() == 1) {
            const auto back = [&] { return done.size() == 4 && done[1] == warm[1] && done[2] == warm[2] && done[3] == 1; };
            for (int looks = 0; looks < 100 && !back(); ++looks) done = sample(pid);
            stopAt = t + 0.5;
        }
        // Many: a second once every monitor records.
        if (s.event == Event::Many && t >= 0 && stopAt > 1e8 && sample(pid).back() == kMany) stopAt = t + 1.0;
        if (!interrupted && t >= std::min(s.seconds, stopAt)) interrupted = byInput ? input.close() : ::kill(pid, SIGINT) == 0;
    };
    const ChildResult r = runChild(options);
    if (parec != 0) stopProcess(parec);

    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    const bool endsItself = s.event == Event::Kill || s.event == Event::CloseReader || s.event == Event::ReaderGone ||
                            s.event == Event::TargetExits;
    EXPECT_EQ(interrupted, !endsItself);
    std::string head = captureHead(target.pid, s.include, s.channels, s.rate);
    head.insert(head.find('\n') + 1, "info: audio server " + srv.ready + "\n");
    const std::string ending = s.event == Event::TargetExits ? "info: target process exited\n"
                               : s.event == Event::Kill ? "warn: audio server connection lost: Connection terminated\n"
                                                        : "";
    EXPECT_TRUE(r.err.compare(0, head.size(), head) == 0 &&
                std::regex_match(r.err.substr(head.size()), std::regex(ending + "info: capture stopped\n")))
        << r.err;
    EXPECT_TRUE(s.event == Event::CloseReader || r.out.size() % (sizeof(float) * s.channels) == 0) << r.out.size();

    const std::size_t frames = r.out.size() / (sizeof(float) * s.channels);
    EXPECT_GE(static_cast<double>(frames) / s.rate, s.minSec);
    EXPECT_LE(static_cast<double>(frames) / s.rate, s.maxSec);
    if (s.continuous) {
        std::size_t zeros = 0;
        for (std::size_t f = 0; f < frames; ++f) zeros += std::memcmp(&r.out[f * 8], "\0\0\0\0\0\0\0\0", 8) == 0;
        EXPECT_NEAR(static_cast<double>(zeros) / s.rate, 0.6, 0.2);
    }
    const std::size_t window = std::min(frames, static_cast<std::size_t>(0.3 * s.rate));
    const bool ends = endsItself || s.event == Event::End || s.event == Event::StopStalled || s.event == Event::EndInputStalled;
    for (unsigned ch = 0; ch < s.channels; ++ch) {
        const auto at = [&](double hz, std::size_t begin, std::size_t end) {
            return level(r.out, s.rate, s.channels, ch, hz, begin, end);
        };
        for (double hz : s.absent) EXPECT_LT(at(hz, 0, frames), 0.01) << hz << " Hz, channel " << ch;
        for (double hz : ch < 2 ? s.present : std::vector<double>{}) {  // a tone at 0.25 reads 0.25
            EXPECT_GT(at(hz, 0, window), 0.1) << hz << " Hz first, channel " << ch;
            EXPECT_GT(ends ? 1.0 : at(hz, frames - window, frames), 0.1) << hz << " Hz last, channel " << ch;
        }
    }
    if (s.event == Event::Churn) {  // RSS within 256 KiB, the rest back to their counts, one stream recorded
        ASSERT_EQ(warm.size() + done.size(), 8u);
        EXPECT_LE(done[0] - warm[0], 256) << "KiB";
        EXPECT_EQ(std::vector<long>(done.begin() + 1, done.end()), (std::vector<long>{warm[1], warm[2], 1}));
        EXPECT_GT(level(r.out, s.rate, 2, 0, 440, frames - window, frames), 0.1);
    }
    std::ifstream refFile(reference, std::ios::binary);
    const std::vector<unsigned char> ref{std::istreambuf_iterator<char>(refFile), {}};
    // Every tone, at 0.25 / kMany, as loud as in the server's own mix of out (the
    // streams there; on PulseAudio every fifth), which on a starved PipeWire loses some.
    const unsigned sinks = srv.ready.rfind("pulseaudio", 0) == 0 ? 5 : 1;
    for (unsigned i = 0; s.event == Event::Many && i < kMany; ++i) {
        const double hz = 1000 + 40 * i, ours = level(r.out, s.rate, 2, 0, hz, frames - std::min(frames, 3 * window), frames) * kMany,
                     theirs = level(ref, 48000, 2, 0, hz, ref.size() / 8 - 3 * window, ref.size() / 8) * kMany;
        EXPECT_GE(ours, 0.5 * (i % sinks == 0 ? std::min(theirs, 0.25) : 0.25)) << hz << " Hz; the server's: " << theirs;
    }
}

// Each kind runs its scenarios in this order, in a process of its own; pw-play only on PipeWire.
std::vector<PulseCapture::ParamType> cases() {
    std::vector<PulseCapture::ParamType> all;
    for (const std::string kind : {"pulseaudio", "pipewire"})
        for (const Scenario& s : kScenarios)
            if (kind == "pipewire" || (std::strstr(s.target, "pw-play") == nullptr && s.other != kSpoofer))
                all.emplace_back(s, kind);
    return all;
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseCapture, testing::ValuesIn(cases()), [](const auto& info) {
    const bool pipeWire = std::get<1>(info.param) == "pipewire";
    return std::string(std::get<0>(info.param).name) + (pipeWire ? "_PipeWire" : "_PulseAudio");
});

// No server: --list and a capture both say so, with libpulse's reason.
TEST(PulseNoServer, TheServersAbsenceEndsTheRun) {
    const Environment none = {{"PULSE_SERVER", "unix:/nonexistent/procloop-test/native"}};
    const ChildResult listed = runChild(procloop({"--list"}, none)),
                      captured = runChild(procloop({"--pid", "4242", "--include-child-processes"}, none));
    EXPECT_EQ(listed.err, "error: cannot connect to the audio server: Connection refused\n");
    EXPECT_EQ(captured.err, "info: pid=4242 includeChildren=true\nerror: cannot connect to the audio server: Connection refused\n");
    EXPECT_EQ(listed.exitCode + captured.exitCode, 2);
    EXPECT_TRUE(listed.out.empty() && captured.out.empty());
    // A command whose capture cannot start never runs (its "ran" would be on standard error).
    const ChildResult command = runChild(procloop({"--", "sh", "-c", "echo ran"}, none));
    EXPECT_TRUE(std::regex_match(command.err, std::regex("info: pid=\\d+ includeChildren=true\nerror: cannot connect to the "
                                                         "audio server: Connection refused\n"))) << command.err;
    EXPECT_EQ(command.exitCode, 1);
}

}  // namespace
