#include "pulse_fixture.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int playerCount = 0;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

Capture Capture::first(double s) const {
    Capture c = *this;
    c.samples.resize(std::min(samples.size(), static_cast<std::size_t>(s * rate) * channels));
    return c;
}

Capture Capture::last(double s) const {
    Capture c = *this;
    const std::size_t keep = std::min(samples.size(), static_cast<std::size_t>(s * rate) * channels);
    c.samples.erase(c.samples.begin(), c.samples.end() - static_cast<std::ptrdiff_t>(keep));
    return c;
}

// Hann-windowed Goertzel over 100 ms blocks, power-averaged: a dropout's phase
// jump does not cancel the blocks around it, and no tone leaks into another's bin.
double Capture::level(unsigned channel, double hz) const {
    const std::size_t frames = samples.size() / channels, block = rate / 10;
    const double coeff = 2.0 * std::cos(2.0 * M_PI * hz / rate);
    double power = 0.0;
    std::size_t blocks = 0;
    for (std::size_t start = 0; start + block <= frames; start += block, ++blocks) {
        double s1 = 0.0, s2 = 0.0, gain = 0.0;
        for (std::size_t i = 0; i < block; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(block));
            const double s0 = w * samples[(start + i) * channels + channel] + coeff * s1 - s2;
            gain += w;
            s2 = s1;
            s1 = s0;
        }
        power += 4.0 * std::max(s1 * s1 + s2 * s2 - coeff * s1 * s2, 0.0) / (gain * gain);
    }
    return blocks == 0 ? 0.0 : std::sqrt(power / static_cast<double>(blocks));
}

Player::Player(const AudioServer& server, const std::vector<std::string>& args)
    : log_(server.dir() + "/player-" + std::to_string(++playerCount) + ".log") {
    std::vector<std::string> argv{TONE_PLAYER};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = spawnProcess(argv, server.env(), log_);
}

std::vector<long> Player::waitStreams(std::size_t count) {
    std::vector<long> indexes;
    std::string text;
    for (const auto start = Clock::now(); indexes.size() < count && secondsSince(start) < 10.0;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::stringstream log;
        log << std::ifstream(log_).rdbuf();
        text = log.str();
        indexes.clear();
        for (long index = 0; log >> index;) indexes.push_back(index);  // stops at an error line
    }
    if (indexes.size() < count) ADD_FAILURE() << "player " << pid_ << " did not start " << count << " stream(s):\n" << text;
    return indexes;
}

std::unique_ptr<AudioServer> PulseTest::servers_[2];

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
    options.env = target.env();
    options.timeoutMs = static_cast<int>(seconds * 1000) + 20000;
    options.closeStdoutAfter = readLimit;
    CaptureRun run;
    Clock::time_point startedAt{};
    options.onProgress = [&](pid_t pid, const ChildResult& soFar) {
        if (startedAt == Clock::time_point{} && soFar.err.find("capture started") != std::string::npos)
            startedAt = Clock::now();
        if (startedAt == Clock::time_point{}) return;
        const double t = secondsSince(startedAt);
        if (during) during(t);
        if (!run.interrupted && t >= seconds) {
            ::kill(pid, SIGINT);
            run.interrupted = true;
        }
    };
    run.result = runChild(options);
    EXPECT_FALSE(run.result.timedOut);
    const std::size_t at = run.result.err.find("info: capture format ");
    if (at != std::string::npos)
        std::sscanf(run.result.err.c_str() + at, "info: capture format %u Hz %u ch", &run.capture.rate,
                    &run.capture.channels);
    run.capture.samples.resize(run.result.out.size() / (sizeof(float) * run.capture.channels) * run.capture.channels);
    if (!run.capture.samples.empty())
        std::memcpy(run.capture.samples.data(), run.result.out.data(), run.capture.samples.size() * sizeof(float));
    return run;
}

std::string PulseTest::head(pid_t pid, bool includeChildren, const std::string& server, unsigned rate,
                            unsigned channels) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "info: pid=%d includeChildren=%s\ninfo: audio server %s\n"
                  "info: capture format %u Hz %u ch 32 bit float\ninfo: capture started sampleRate=%u channels=%u\n",
                  static_cast<int>(pid), includeChildren ? "true" : "false", server.c_str(), rate, channels, rate,
                  channels);
    return text;
}

std::string serverName(const ::testing::TestParamInfo<ServerKind>& info) { return nameOf(info.param); }

std::vector<std::string> targetArgs(pid_t pid, bool includeChildren, const std::vector<std::string>& more) {
    std::vector<std::string> args{"--pid", std::to_string(pid)};
    if (includeChildren) args.push_back("--include-child-processes");
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

void expectTone(const Capture& capture, double hz, std::initializer_list<unsigned> channels) {
    for (unsigned channel : channels)
        EXPECT_GT(capture.level(channel, hz), kPresent) << hz << " Hz, channel " << channel << ", " << capture.seconds()
                                                        << " s";
}

void expectNoTone(const Capture& capture, double hz) {
    for (unsigned channel = 0; channel < capture.channels; ++channel)
        EXPECT_LT(capture.level(channel, hz), kAbsent) << hz << " Hz, channel " << channel << ", " << capture.seconds()
                                                       << " s";
}
