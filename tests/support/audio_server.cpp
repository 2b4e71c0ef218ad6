#include "audio_server.h"

#include <signal.h>
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

constexpr const char* kSinks[] = {"out", "out2"};

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string readFile(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The value after "<key>: " on the first line that has it.
std::string field(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key + ": ");
    if (at == std::string::npos) return {};
    const std::size_t from = at + key.size() + 2;
    return text.substr(from, text.find('\n', from) - from);
}

}  // namespace

const char* nameOf(ServerKind kind) { return kind == ServerKind::PulseAudio ? "PulseAudio" : "PipeWire"; }

AudioServer::AudioServer(ServerKind kind) {
    char templ[] = "/tmp/procloop-audio-XXXXXX";
    if (::mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = templ;
    env_ = {{"DBUS_SESSION_BUS_ADDRESS", ""}, {"DISPLAY", ""}, {"LANG", "C"},
            {"PULSE_SERVER", "unix:" + dir_ + "/run/pulse/native"}};
    for (const char* sub : {"run", "home", "config", "state", "data"}) fs::create_directories(dir_ + "/" + sub);
    for (const auto& [name, sub] : {std::pair{"XDG_RUNTIME_DIR", "run"}, {"HOME", "home"}, {"XDG_CONFIG_HOME", "config"},
                                    {"XDG_STATE_HOME", "state"}, {"XDG_DATA_HOME", "data"}})
        env_.emplace_back(name, dir_ + "/" + sub);
    fs::permissions(dir_ + "/run", fs::perms::owner_all, fs::perm_options::replace);
    try {
        if (kind == ServerKind::PulseAudio) {
            std::vector<std::string> argv{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                          "-n", "--load=module-native-protocol-unix"};
            for (const char* sink : kSinks)
                argv.push_back(std::string("--load=module-null-sink format=float32le rate=48000 channels=2 sink_name=") +
                               sink);
            start(argv);
        } else {
            std::string objects = "context.objects = [\n";
            for (const char* sink : kSinks)
                objects += std::string("{ factory = adapter args = { factory.name = support.null-audio-sink node.name = ") +
                           sink + " media.class = Audio/Sink audio.position = [ FL FR ] audio.format = F32 " +
                           "audio.rate = 48000 object.linger = true } }\n";
            writeFile(dir_ + "/config/pipewire/pipewire.conf.d/10-null-sinks.conf", objects + "]\n");
            // WirePlumber without a session bus exits unless the first two are off;
            // the last two keep one test's mute or move from reaching later streams.
            writeFile(dir_ + "/config/wireplumber/main.lua.d/51-tests.lua",
                      "default_access.properties[\"enable-flatpak-portal\"] = false\n"
                      "alsa_monitor.properties[\"alsa.reserve\"] = false\n"
                      "stream_defaults.properties[\"restore-props\"] = false\n"
                      "stream_defaults.properties[\"restore-target\"] = false\n");
            start({"pipewire"});
            // The other two give up when PipeWire is not listening yet.
            waitFor("PipeWire's socket", 10000,
                    [](const AudioServer& s) { return fs::exists(s.dir_ + "/run/pipewire-0"); });
            start({"wireplumber"});
            start({"pipewire-pulse"});
        }
        // On PipeWire the default sink needs WirePlumber, which also links streams.
        waitFor("a default sink", 15000, [](const AudioServer& s) {
            try {
                if (field(s.pactl({"info"}), "Default Sink") == "out") return true;
                s.pactl({"set-default-sink", "out"});
            } catch (const std::runtime_error&) {
                // not accepting clients yet
            }
            return false;
        });
        if (kind == ServerKind::PulseAudio) {
            // A null sink renders up to 2 s ahead while no client asks for less,
            // and new streams then start late with a burst. A 10 ms reader of each
            // monitor keeps it in step as a sound card's clock would, once what
            // was rendered ahead has played. It records no stream.
            for (const char* sink : kSinks)
                start({"parec", "--raw", "--latency-msec=10", std::string("--device=") + sink + ".monitor"},
                      "/dev/null");
            std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        }
    } catch (...) {
        shutdown();
        throw;
    }
}

AudioServer::~AudioServer() { shutdown(); }

void AudioServer::shutdown() {
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it)
        if (*it > 0) stopProcess(*it);
    pids_.clear();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void AudioServer::start(const std::vector<std::string>& argv, const std::string& log) {
    pids_.push_back(spawnProcess(argv, env_, log.empty() ? dir_ + "/server.log" : log));
}

void AudioServer::waitFor(const char* what, int ms, bool (*ready)(const AudioServer&)) {
    for (int waited = 0; waited < ms; waited += 50) {
        const std::string dead = deadProcesses();
        if (!dead.empty()) throw std::runtime_error(std::string("server ended while waiting for ") + what + ": " + dead);
        if (ready(*this)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error(std::string("no ") + what + " in time:\n" + readFile(dir_ + "/server.log"));
}

std::string AudioServer::pactl(const std::vector<std::string>& args) const {
    ChildOptions options;
    options.argv = {"pactl"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = env_;
    options.timeoutMs = 5000;
    const ChildResult r = runChild(options);
    if (r.exitCode != 0) throw std::runtime_error("pactl " + args.front() + " failed: " + r.err);
    return std::string(r.out.begin(), r.out.end());
}

std::string AudioServer::nameAndVersion() const {
    const std::string info = pactl({"info"});
    return field(info, "Server Name") + " " + field(info, "Server Version");
}

std::string AudioServer::deadProcesses() {
    std::string dead;
    for (pid_t& pid : pids_) {
        int status = 0;
        if (pid <= 0 || ::waitpid(pid, &status, WNOHANG) != pid) continue;
        dead += "process " + std::to_string(pid) + " ended with status " + std::to_string(status) + "\n";
        pid = -1;
    }
    return dead.empty() ? dead : dead + readFile(dir_ + "/server.log");
}

void AudioServer::kill() {
    for (pid_t pid : pids_)
        if (pid > 0) stopProcess(pid, SIGKILL);
    pids_.clear();
}
