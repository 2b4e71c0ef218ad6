#include "audio_server.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The value after "<key>: " on the first line that has it.
std::string field(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key + ": "), from = at + key.size() + 2;
    return at == std::string::npos ? "" : text.substr(from, text.find('\n', from) - from);
}

template <typename Ready>
void waitFor(AudioServer& server, const char* what, Ready ready) {
    for (int waited = 0; waited < 15000; waited += 50) {
        const std::string ended = server.dead();
        if (!ended.empty()) throw std::runtime_error(std::string("server ended waiting for ") + what + ": " + ended);
        try {
            if (ready()) return;
        } catch (const std::runtime_error&) {  // not accepting clients yet
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error(std::string("no ") + what + " in time:\n" + readFile(server.dir + "/log"));
}

void startPulseAudio(AudioServer& server) {
    std::vector<std::string> argv{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                                  "--load=module-native-protocol-unix"};
    for (const char* sink : {"out", "out2"})
        argv.push_back(std::string("--load=module-null-sink format=float32le rate=48000 channels=2 sink_name=") + sink);
    server.start(argv);
    waitFor(server, "the server", [&] { return !server.pactl({"info"}).empty(); });
    // A null sink renders up to 2 s ahead while no client asks for less, and new
    // streams then start late with a burst. A 10 ms reader of each monitor keeps
    // it in step as a sound card's clock would, once what it rendered ahead has
    // played. It records no stream.
    for (const char* sink : {"out", "out2"})
        server.start({"parec", "--raw", "--latency-msec=10", std::string("--device=") + sink + ".monitor"});
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
}

void startPipeWire(AudioServer& server) {
    std::string objects = "context.objects = [\n";
    for (const char* sink : {"out", "out2"})
        objects += std::string("{ factory = adapter args = { factory.name = support.null-audio-sink node.name = ") +
                   sink + " media.class = Audio/Sink audio.position = [ FL FR ] audio.format = F32 " +
                   "audio.rate = 48000 object.linger = true } }\n";
    fs::create_directories(server.dir + "/config/pipewire/pipewire.conf.d");
    fs::create_directories(server.dir + "/config/wireplumber/main.lua.d");
    std::ofstream(server.dir + "/config/pipewire/pipewire.conf.d/10-null-sinks.conf") << objects << "]\n";
    // WirePlumber without a session bus exits unless the first two are off; the
    // last two keep one test's mute or move from reaching later streams.
    std::ofstream(server.dir + "/config/wireplumber/main.lua.d/51-tests.lua")
        << "default_access.properties[\"enable-flatpak-portal\"] = false\n"
           "alsa_monitor.properties[\"alsa.reserve\"] = false\n"
           "stream_defaults.properties[\"restore-props\"] = false\n"
           "stream_defaults.properties[\"restore-target\"] = false\n";
    server.start({"pipewire"});
    // The other two give up when PipeWire is not listening yet.
    waitFor(server, "PipeWire's socket", [&] { return fs::exists(server.dir + "/run/pipewire-0"); });
    server.start({"wireplumber"});
    server.start({"pipewire-pulse"});
}

}  // namespace

AudioServer::AudioServer(ServerKind kind) {
    char templ[] = "/tmp/procloop-audio-XXXXXX";
    if (::mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp");
    dir = templ;
    env = {{"DBUS_SESSION_BUS_ADDRESS", ""}, {"DISPLAY", ""}, {"LANG", "C"},
           {"PULSE_SERVER", "unix:" + dir + "/run/pulse/native"}};
    for (const auto& [var, sub] : {std::pair{"XDG_RUNTIME_DIR", "/run"}, {"HOME", "/home"},
                                   {"XDG_CONFIG_HOME", "/config"}, {"XDG_STATE_HOME", "/state"},
                                   {"XDG_DATA_HOME", "/data"}}) {
        fs::create_directories(dir + sub);
        env.emplace_back(var, dir + sub);
    }
    fs::permissions(dir + "/run", fs::perms::owner_all, fs::perm_options::replace);
    try {
        kind == ServerKind::PulseAudio ? startPulseAudio(*this) : startPipeWire(*this);
        // On PipeWire the default sink needs WirePlumber, which also links the streams.
        waitFor(*this, "a default sink", [&] {
            const std::string info = pactl({"info"});
            name = field(info, "Server Name") + " " + field(info, "Server Version");
            if (field(info, "Default Sink") == "out") return true;
            pactl({"set-default-sink", "out"});
            return false;
        });
    } catch (...) {
        stop();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
        throw;
    }
}

AudioServer::~AudioServer() {
    stop();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

std::string AudioServer::pactl(const std::vector<std::string>& args) const {
    ChildOptions options;
    options.argv = {"pactl"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = env;
    options.timeoutMs = 5000;
    const ChildResult r = runChild(options);
    if (r.exitCode != 0) throw std::runtime_error("pactl " + args.front() + " failed: " + r.err);
    return std::string(r.out.begin(), r.out.end());
}

std::string AudioServer::dead() {
    std::string ended;
    for (pid_t& pid : pids) {
        int status = 0;
        if (pid <= 0 || ::waitpid(pid, &status, WNOHANG) != pid) continue;
        ended += "process " + std::to_string(pid) + " ended with status " + std::to_string(status) + "\n";
        pid = -1;
    }
    return ended.empty() ? ended : ended + readFile(dir + "/log");
}

void AudioServer::stop(int signal) {
    for (auto it = pids.rbegin(); it != pids.rend(); ++it)
        if (*it > 0) stopProcess(*it, signal);
    pids.clear();
}
