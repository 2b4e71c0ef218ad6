// The private components the tests meet, each started in a temporary directory
// of its own by one of scripts/lib's starters, which stops the component's
// processes by the pids it recorded when it is stopped by the pid recorded here.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"

struct PrivateComponent {
    // scripts/lib/<starter> <dir> <args...>; throws, with its log, unless it is ready in 30 s.
    explicit PrivateComponent(const std::string& starter, const std::vector<std::string>& args = {});
    ~PrivateComponent();
    PrivateComponent(const PrivateComponent&) = delete;
    PrivateComponent& operator=(const PrivateComponent&) = delete;

    std::string dead();     // how the starter ended, with its log; empty while it runs
    pid_t mainPid() const;  // the component's main process, e.g. the server the clients talk to

    std::string dir, ready;  // ready: what the starter reported, e.g. a server's "<name> <version>"
    Environment env;         // for its clients, on top of the test's
    pid_t starter = -1;

private:
    void end();
};

enum class ServerKind { PulseAudio, PipeWire };

// PulseAudio, or PipeWire with WirePlumber and pipewire-pulse, with two float32
// 48 kHz stereo null sinks, "out" (the default) and "out2".
struct AudioServer : PrivateComponent {
    explicit AudioServer(ServerKind kind)
        : PrivateComponent("audio-server", {kind == ServerKind::PulseAudio ? "pulseaudio" : "pipewire", "out", "out2"}) {}
    std::string pactl(const std::vector<std::string>& args) const;  // its output; throws when it fails
};
