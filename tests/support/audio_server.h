// A private audio server for the tests that meet a real one: PulseAudio, or
// PipeWire with WirePlumber and pipewire-pulse, in a temporary directory of its
// own with two float32 48 kHz stereo null sinks, "out" (the default) and "out2".
// Every process is started here and stopped by the pid recorded at its start.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "child_process.h"

enum class ServerKind { PulseAudio, PipeWire };

struct AudioServer {
    explicit AudioServer(ServerKind kind);  // throws, with the server's log, when not ready in time
    ~AudioServer();
    AudioServer(const AudioServer&) = delete;
    AudioServer& operator=(const AudioServer&) = delete;

    std::string pactl(const std::vector<std::string>& args) const;  // its output; throws when it fails
    std::string dead();  // which of its processes ended by themselves, with the log; empty while all run
    void stop(int signal = SIGTERM);  // every process; SIGKILL is a crash
    void start(const std::vector<std::string>& argv) { pids.push_back(spawnProcess(argv, env, dir + "/log")); }

    std::string dir, name;  // name: "<name> <version>" as the server reports them to a client
    Environment env;        // for the server and its clients, on top of the test's
    std::vector<pid_t> pids;
};
