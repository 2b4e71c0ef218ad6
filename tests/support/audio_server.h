// A private audio server for the tests that meet a real one: PulseAudio, or
// PipeWire with WirePlumber and pipewire-pulse, in a temporary directory of its
// own with two float32 48 kHz stereo null sinks, "out" (the default) and "out2".
// Every process is started and stopped here by its pid.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "child_process.h"

enum class ServerKind { PulseAudio, PipeWire };

const char* nameOf(ServerKind kind);

class AudioServer {
public:
    // Throws std::runtime_error, with the server's log, when it is not ready in time.
    explicit AudioServer(ServerKind kind);
    ~AudioServer();
    AudioServer(const AudioServer&) = delete;
    AudioServer& operator=(const AudioServer&) = delete;

    const std::string& dir() const { return dir_; }
    // For the server and its clients, on top of the test's environment.
    const Environment& env() const { return env_; }
    // "<name> <version>" as the server reports them to a client.
    std::string nameAndVersion() const;
    // Runs pactl against this server; returns its standard output, throws when it fails.
    std::string pactl(const std::vector<std::string>& args) const;

    // Which of its processes have ended by themselves, with the server's log; empty while all run.
    std::string deadProcesses();
    // The server dies at once, as by a crash.
    void kill();

private:
    void start(const std::vector<std::string>& argv, const std::string& log = "");
    void waitFor(const char* what, int ms, bool (*ready)(const AudioServer&));
    void shutdown();

    std::string dir_;
    Environment env_;
    std::vector<pid_t> pids_;
};
