// What the process tests against real audio servers share: one server of each
// kind per test suite, tone players as separate processes, procloop run
// against a server and stopped with Ctrl+C, and Goertzel levels of its output.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio_server.h"
#include "child_process.h"

// The players' tones (played at amplitude 0.25) and how the checks read them.
constexpr double kTargetHz = 440.0;
constexpr double kOtherHz = 660.0;
constexpr double kPresent = 0.1;
constexpr double kAbsent = 0.01;

// Interleaved float32 output at the format procloop reported.
struct Capture {
    std::vector<float> samples;
    unsigned channels = 1;
    unsigned rate = 48000;

    double seconds() const { return static_cast<double>(samples.size()) / channels / rate; }
    Capture last(double seconds) const;
    Capture first(double seconds) const;
    // Amplitude of the sine at `hz` in one channel (a sine of amplitude A gives A),
    // as a root mean square over 100 ms blocks.
    double level(unsigned channel, double hz) const;
};

// tests/tools/tone_player, stopped when the object goes.
class Player {
public:
    Player(const AudioServer& server, const std::vector<std::string>& args);
    ~Player() { stopProcess(pid_); }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    pid_t pid() const { return pid_; }
    // The sink-input indexes it printed once `count` streams play (fails the test after 10 s).
    std::vector<long> waitStreams(std::size_t count = 1);

private:
    std::string log_;
    pid_t pid_;
};

struct CaptureRun {
    ChildResult result;
    Capture capture;
    bool interrupted = false;  // Ctrl+C was sent
};

// Called while procloop runs with the seconds since its capture started.
using During = std::function<void(double seconds)>;

class PulseTest : public ::testing::TestWithParam<ServerKind> {
protected:
    static void TearDownTestSuite();
    // This suite's server of the test's kind, started on first use.
    AudioServer& server();

    // Runs procloop with `args`, stops it with Ctrl+C `seconds` after its capture
    // started; the reader goes away after `readLimit` bytes.
    static CaptureRun capture(const AudioServer& target, const std::vector<std::string>& args, double seconds,
                              const During& during = {}, std::size_t readLimit = SIZE_MAX);

    // The lines before the samples, as the contract fixes them.
    static std::string head(pid_t pid, bool includeChildren, const std::string& server, unsigned rate = 48000,
                            unsigned channels = 2);

private:
    static std::unique_ptr<AudioServer> servers_[2];
};

std::string serverName(const ::testing::TestParamInfo<ServerKind>& info);
std::vector<std::string> targetArgs(pid_t pid, bool includeChildren, const std::vector<std::string>& more = {});

// Present on every listed channel / absent from every channel.
void expectTone(const Capture& capture, double hz, std::initializer_list<unsigned> channels = {0, 1});
void expectNoTone(const Capture& capture, double hz);
