// A private audio server for the tests that meet a real one: PulseAudio, or
// PipeWire with WirePlumber and pipewire-pulse, each in a temporary directory
// of its own with two null sinks at float32 48 kHz stereo ("out", the default,
// and "out2"). Every process is started and stopped here by its pid.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

enum class ServerKind { PulseAudio, PipeWire };

const char* nameOf(ServerKind kind);

class AudioServer {
public:
    // Throws std::runtime_error, with the server's log, when it is not ready in time.
    explicit AudioServer(ServerKind kind);
    ~AudioServer();
    AudioServer(const AudioServer&) = delete;
    AudioServer& operator=(const AudioServer&) = delete;

    ServerKind kind() const { return kind_; }
    const std::string& dir() const { return dir_; }
    // "unix:<runtime dir>/pulse/native"
    const std::string& pulseServer() const { return pulseServer_; }
    // What a client of this server needs on top of the test's environment.
    std::vector<std::pair<std::string, std::string>> clientEnv() const;
    // The same as a whole environment, for spawnProcess.
    std::vector<std::string> clientEnvironment() const;
    // "<name> <version>" as the server reports them to a client.
    std::string nameAndVersion();

    // Runs pactl against this server; returns its standard output, throws when it fails.
    std::string pactl(const std::vector<std::string>& args) const;
    // The sink-input index of the first stream that a process with this pid opened
    // (its own or, for native PipeWire clients, its client's process id); -1 if none.
    long sinkInputOf(pid_t pid) const;

    // Which of its processes have ended by themselves, with the server's log; empty while all run.
    std::string deadProcesses();

    // The server dies at once, as by a crash (SIGKILL to every process).
    void kill();

private:
    void start(const std::vector<std::string>& argv, const std::vector<std::string>& env);
    void waitReady();
    void waitInStep();
    void waitForFile(const std::string& path);
    void shutdown();
    std::vector<std::string> serverEnvironment() const;

    ServerKind kind_;
    std::string dir_;
    std::string pulseServer_;
    std::vector<pid_t> pids_;
};
