#include "audio_server.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "child_process.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSinks[] = {"out", "out2"};

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value after "<key>: " on the first line that has it.
std::string field(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key + ": ");
    if (at == std::string::npos) return {};
    const std::size_t from = at + key.size() + 2;
    return text.substr(from, text.find('\n', from) - from);
}

// `pactl list <what>` cut into its "<Header> #N" blocks, by N.
std::vector<std::pair<long, std::string>> blocks(const std::string& text, const std::string& header) {
    std::vector<std::pair<long, std::string>> out;
    std::size_t at = text.find(header + " #");
    while (at != std::string::npos) {
        const std::size_t next = text.find(header + " #", at + 1);
        out.emplace_back(std::atol(text.c_str() + at + header.size() + 2), text.substr(at, next - at));
        at = next;
    }
    return out;
}

bool ownedBy(const std::string& block, pid_t pid) {
    return block.find("application.process.id = \"" + std::to_string(pid) + "\"") != std::string::npos;
}

}  // namespace

const char* nameOf(ServerKind kind) { return kind == ServerKind::PulseAudio ? "PulseAudio" : "PipeWire"; }

AudioServer::AudioServer(ServerKind kind) : kind_(kind) {
    char templ[] = "/tmp/procloop-audio-XXXXXX";
    if (::mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = templ;
    for (const char* sub : {"run", "home", "config", "state", "data"}) fs::create_directories(dir_ + "/" + sub);
    fs::permissions(dir_ + "/run", fs::perms::owner_all, fs::perm_options::replace);
    pulseServer_ = "unix:" + dir_ + "/run/pulse/native";
    try {
        const std::vector<std::string> env = serverEnvironment();
        if (kind == ServerKind::PulseAudio) {
            std::vector<std::string> argv{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                          "-n", "--load=module-native-protocol-unix"};
            for (const char* sink : kSinks)
                argv.push_back(std::string("--load=module-null-sink sink_name=") + sink +
                               " format=float32le rate=48000 channels=2");
            start(argv, env);
        } else {
            std::string objects = "context.objects = [\n";
            for (const char* sink : kSinks)
                objects += std::string("  { factory = adapter args = { factory.name = support.null-audio-sink ") +
                           "node.name = \"" + sink + "\" media.class = \"Audio/Sink\" audio.position = [ FL FR ] " +
                           "audio.format = \"F32\" audio.rate = 48000 object.linger = true } }\n";
            writeFile(dir_ + "/config/pipewire/pipewire.conf.d/10-null-sinks.conf", objects + "]\n");
            // WirePlumber without a session bus exits unless both are off.
            writeFile(dir_ + "/config/wireplumber/main.lua.d/51-headless-nodbus.lua",
                      "default_access.properties[\"enable-flatpak-portal\"] = false\n"
                      "alsa_monitor.properties[\"alsa.reserve\"] = false\n");
            start({"pipewire"}, env);
            waitForFile(dir_ + "/run/pipewire-0");  // the other two connect to it at once
            start({"wireplumber"}, env);
            start({"pipewire-pulse"}, env);
        }
        waitReady();
        // PulseAudio's null sink renders up to 2 s ahead while no client asks for
        // less, and a new stream's first audio then comes late in one burst. A
        // reader of each sink's monitor at 10 ms keeps it in step, as a sound
        // card's clock would; it records no stream, so no capture sees it.
        if (kind == ServerKind::PulseAudio) {
            for (const char* sink : kSinks)
                pids_.push_back(spawnProcess({"parec", "--raw", "--latency-msec=10", std::string("--device=") + sink +
                                              ".monitor"},
                                             clientEnvironment(), "/dev/null"));
            waitInStep();
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
    if (!dir_.empty()) {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        dir_.clear();
    }
}

std::vector<std::string> AudioServer::serverEnvironment() const {
    const char* path = ::getenv("PATH");
    return {"PATH=" + std::string(path != nullptr ? path : "/usr/bin:/bin"),
            "HOME=" + dir_ + "/home",
            "XDG_RUNTIME_DIR=" + dir_ + "/run",
            "XDG_CONFIG_HOME=" + dir_ + "/config",
            "XDG_STATE_HOME=" + dir_ + "/state",
            "XDG_DATA_HOME=" + dir_ + "/data",
            "LANG=C"};
}

std::vector<std::pair<std::string, std::string>> AudioServer::clientEnv() const {
    return {{"PULSE_SERVER", pulseServer_}, {"XDG_RUNTIME_DIR", dir_ + "/run"}, {"HOME", dir_ + "/home"}};
}

std::vector<std::string> AudioServer::clientEnvironment() const {
    std::vector<std::string> env = serverEnvironment();
    env.push_back("PULSE_SERVER=" + pulseServer_);
    return env;
}

void AudioServer::start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    pids_.push_back(spawnProcess(argv, env, dir_ + "/server.log"));
}

std::string AudioServer::pactl(const std::vector<std::string>& args) const {
    ChildOptions options;
    options.argv = {"pactl"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = clientEnv();
    options.timeoutMs = 5000;
    const ChildResult r = runChild(options);
    if (r.exitCode != 0) throw std::runtime_error("pactl " + args.front() + " failed: " + r.err);
    return std::string(r.out.begin(), r.out.end());
}

void AudioServer::waitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!fs::exists(path)) throw std::runtime_error(path + " did not appear:\n" + readFile(dir_ + "/server.log"));
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

// Ready once a client connects and "out" is the default sink, which on PipeWire
// needs WirePlumber to be up as well (it owns the default and links streams).
void AudioServer::waitReady() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string dead = deadProcesses();
        if (!dead.empty()) throw std::runtime_error(std::string(nameOf(kind_)) + " exited at start: " + dead);
        try {
            if (field(pactl({"info"}), "Default Sink") == "out") return;
            pactl({"set-default-sink", "out"});
        } catch (const std::runtime_error&) {
            // not accepting clients yet
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error(std::string(nameOf(kind_)) + " not ready in 15 s:\n" + readFile(dir_ + "/server.log"));
}

// Until what the sinks rendered ahead before has played out.
void AudioServer::waitInStep() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        bool inStep = true;
        for (const auto& [index, block] : blocks(pactl({"list", "sinks"}), "Sink"))
            inStep = inStep && std::atol(field(block, "\tLatency").c_str()) < 50000;
        if (inStep) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("the null sinks did not come down to a short latency:\n" + pactl({"list", "sinks"}));
}

std::string AudioServer::nameAndVersion() {
    const std::string info = pactl({"info"});
    return field(info, "Server Name") + " " + field(info, "Server Version");
}

long AudioServer::sinkInputOf(pid_t pid) const {
    std::vector<long> clients;
    for (const auto& [index, block] : blocks(pactl({"list", "clients"}), "Client"))
        if (ownedBy(block, pid)) clients.push_back(index);
    for (const auto& [index, block] : blocks(pactl({"list", "sink-inputs"}), "Sink Input")) {
        if (ownedBy(block, pid)) return index;
        const std::string client = field(block, "Client");
        if (block.find("application.process.id") == std::string::npos && !client.empty())
            for (long c : clients)
                if (std::atol(client.c_str()) == c) return index;
    }
    return -1;
}

void AudioServer::kill() {
    for (pid_t pid : pids_)
        if (pid > 0) stopProcess(pid, SIGKILL);
    pids_.clear();
}
