// The private components the tests meet (an audio server, a Wine prefix, an X
// server), each started in a temporary directory of its own by one of
// scripts/lib's starters, which stops the component's processes by the pids it
// recorded when it is stopped by the pid recorded here. <dir>/pids lists them,
// the main one first.
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"

struct PrivateComponent {
    // scripts/lib/<starter> <dir> <args...>; throws, with its log, unless it is ready in 30 s.
    explicit PrivateComponent(const std::string& starterName, const std::vector<std::string>& args = {})
        : dir(home.path()) {
        std::vector<std::string> argv{PROCLOOP_STARTERS "/" + starterName, dir};
        argv.insert(argv.end(), args.begin(), args.end());
        starter = spawnProcess(argv, {}, dir + "/log");
        for (int waited = 0; !std::filesystem::exists(dir + "/ready"); waited += 50) {
            std::string ended = dead();
            if (ended.empty() && waited >= 30000) ended = "not ready in 30 s:\n" + text("log");
            if (!ended.empty()) {
                end();
                throw std::runtime_error(starterName + " " + ended);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ready = text("ready");
        ready.pop_back();  // its newline
        std::ifstream lines(dir + "/env");
        for (std::string line; std::getline(lines, line);)
            env.emplace_back(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    }
    ~PrivateComponent() { end(); }  // not copied: it owns its directory

    // How the starter ended, with its log; empty while it runs.
    std::string dead() {
        int status = 0;
        if (starter <= 0 || ::waitpid(starter, &status, WNOHANG) != starter) return "";
        starter = -1;
        return "ended with status " + std::to_string(status) + ":\n" + text("log");
    }

    TempDir home;            // removed once the starter has stopped
    std::string dir, ready;  // ready: what the starter reported, e.g. a server's "<name> <version>"
    Environment env;         // for its clients, on top of the test's
    pid_t starter = -1;

private:
    std::string text(const char* file) const {
        std::ifstream in(dir + "/" + file);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void end() { if (starter > 0) stopProcess(starter, 20000); }
};
