// What the process tests against real audio servers share: one server of each
// kind per test suite, tone players as separate processes, and procloop run
// against a server for a while and stopped with Ctrl+C.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio_server.h"
#include "child_process.h"
#include "tone_analysis.h"

// The players' tones and how the checks read them (players play at 0.25).
constexpr double kTargetHz = 440.0;
constexpr double kOtherHz = 660.0;
constexpr double kPresent = 0.1;
constexpr double kAbsent = 0.01;

// tests/tools/tone_player, left running until the object goes.
class Player {
public:
    Player(const AudioServer& server, const std::vector<std::string>& args);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    pid_t pid() const { return pid_; }
    // The sink-input index of its first stream, once that plays (fails the test after 5 s).
    long waitPlaying();
    // Waits until it has printed `count` stream indexes.
    std::vector<long> waitStreams(std::size_t count);

private:
    pid_t pid_;
    std::string log_;
};

// Seconds since the capture started, as onProgress sees them.
using During = std::function<void(double seconds, pid_t procloop, const ChildResult& soFar)>;

struct CaptureRun {
    ChildResult result;
    Capture capture;
    bool interrupted = false;  // Ctrl+C was sent
};

class PulseTest : public ::testing::TestWithParam<ServerKind> {
protected:
    static void TearDownTestSuite();
    // This suite's server of the test's kind, started on first use.
    AudioServer& server();

    // Runs procloop with `args` against `target`, stops it with Ctrl+C `seconds`
    // after its capture started, and reads the stream at the format it reported.
    // The reader goes away after `readLimit` bytes.
    static CaptureRun capture(const AudioServer& target, const std::vector<std::string>& args, double seconds,
                              const During& during = {}, std::size_t readLimit = SIZE_MAX);

    // The lines before the samples, as the contract fixes them.
    static std::string head(pid_t pid, bool includeChildren, const std::string& server, unsigned rate = 48000,
                            unsigned channels = 2);

    static std::unique_ptr<AudioServer> servers_[2];
};

std::string serverName(const ::testing::TestParamInfo<ServerKind>& info);

// Present on every listed channel / absent from every channel.
void expectTone(const Capture& capture, double hz, std::initializer_list<unsigned> channels);
void expectNoTone(const Capture& capture, double hz);
