#include "pulse_fixture.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

int playerCount = 0;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::unique_ptr<AudioServer> PulseTest::servers_[2];

Player::Player(const AudioServer& server, const std::vector<std::string>& args)
    : log_(server.dir() + "/player-" + std::to_string(++playerCount) + ".log") {
    std::vector<std::string> argv{TONE_PLAYER};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = spawnProcess(argv, server.clientEnvironment(), log_);
}

Player::~Player() { stopProcess(pid_); }

std::vector<long> Player::waitStreams(std::size_t count) {
    std::vector<long> indexes;
    const auto start = std::chrono::steady_clock::now();
    while (secondsSince(start) < 5.0) {
        indexes.clear();
        std::ifstream in(log_);
        std::string line;
        while (std::getline(in, line))
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
                indexes.push_back(std::atol(line.c_str()));
        if (indexes.size() >= count) return indexes;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    ADD_FAILURE() << "player " << pid_ << " did not start " << count << " stream(s):\n" << text.str();
    return indexes;
}

long Player::waitPlaying() {
    const std::vector<long> indexes = waitStreams(1);
    return indexes.empty() ? -1 : indexes.front();
}

void PulseTest::TearDownTestSuite() {
    for (auto& server : servers_) server.reset();
}

AudioServer& PulseTest::server() {
    auto& slot = servers_[static_cast<int>(GetParam())];
    if (slot) {
        // One server crashing must not take the rest of the suite with it.
        const std::string dead = slot->deadProcesses();
        if (!dead.empty()) {
            ADD_FAILURE() << nameOf(GetParam()) << " died during an earlier test: " << dead;
            slot.reset();
        }
    }
    if (!slot) slot = std::make_unique<AudioServer>(GetParam());
    return *slot;
}

CaptureRun PulseTest::capture(const AudioServer& target, const std::vector<std::string>& args, double seconds,
                              const During& during, std::size_t readLimit) {
    ChildOptions options;
    options.argv = {PROCLOOP_HOST_BINARY};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = target.clientEnv();
    options.timeoutMs = static_cast<int>(seconds * 1000) + 20000;
    options.closeStdoutAfter = readLimit;
    CaptureRun run;
    bool started = false;
    std::chrono::steady_clock::time_point startedAt;
    options.onProgress = [&](pid_t pid, const ChildResult& soFar) {
        if (!started && soFar.err.find("capture started") != std::string::npos) {
            started = true;
            startedAt = std::chrono::steady_clock::now();
        }
        if (!started) return;
        const double t = secondsSince(startedAt);
        if (during) during(t, pid, soFar);
        if (!run.interrupted && t >= seconds) {
            ::kill(pid, SIGINT);
            run.interrupted = true;
        }
    };
    run.result = runChild(options);
    EXPECT_FALSE(run.result.timedOut);
    unsigned rate = 0, channels = 0;
    const std::size_t at = run.result.err.find("info: capture format ");
    if (at == std::string::npos ||
        std::sscanf(run.result.err.c_str() + at, "info: capture format %u Hz %u ch", &rate, &channels) != 2)
        channels = 1;
    run.capture = Capture::of(run.result.out, channels, rate);
    return run;
}

std::string PulseTest::head(pid_t pid, bool includeChildren, const std::string& server, unsigned rate,
                            unsigned channels) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "info: pid=%d includeChildren=%s\n"
                  "info: audio server %s\n"
                  "info: capture format %u Hz %u ch 32 bit float\n"
                  "info: capture started sampleRate=%u channels=%u\n",
                  static_cast<int>(pid), includeChildren ? "true" : "false", server.c_str(), rate, channels, rate,
                  channels);
    return text;
}

std::string serverName(const ::testing::TestParamInfo<ServerKind>& info) { return nameOf(info.param); }

void expectTone(const Capture& capture, double hz, std::initializer_list<unsigned> channels) {
    for (unsigned channel : channels)
        EXPECT_GT(capture.level(channel, hz), kPresent) << hz << " Hz, channel " << channel << " of "
                                                        << capture.seconds() << " s";
}

void expectNoTone(const Capture& capture, double hz) {
    for (unsigned channel = 0; channel < capture.channels; ++channel)
        EXPECT_LT(capture.level(channel, hz), kAbsent) << hz << " Hz, channel " << channel << " of "
                                                       << capture.seconds() << " s";
}
