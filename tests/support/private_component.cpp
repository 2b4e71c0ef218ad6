#include "private_component.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string readFile(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

void end(pid_t starter, const std::string& dir) {
    if (starter > 0) stopProcess(starter, SIGTERM, 20000);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace

PrivateComponent::PrivateComponent(const std::string& starterName, const std::vector<std::string>& args) {
    char templ[] = "/tmp/procloop-component-XXXXXX";
    if (::mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp");
    dir = templ;
    std::vector<std::string> argv{PROCLOOP_STARTERS "/" + starterName, dir};
    argv.insert(argv.end(), args.begin(), args.end());
    starter = spawnProcess(argv, {}, dir + "/log");
    for (int waited = 0; !std::filesystem::exists(dir + "/ready"); waited += 50) {
        std::string ended = dead();
        if (ended.empty() && waited >= 30000) ended = "not ready in 30 s:\n" + readFile(dir + "/log");
        if (!ended.empty()) {
            end(starter, dir);
            throw std::runtime_error(starterName + " " + ended);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ready = readFile(dir + "/ready");
    ready.pop_back();  // its newline
    std::ifstream lines(dir + "/env");
    for (std::string line; std::getline(lines, line);)
        env.emplace_back(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
}

PrivateComponent::~PrivateComponent() { end(starter, dir); }

std::string PrivateComponent::dead() {
    int status = 0;
    if (starter <= 0 || ::waitpid(starter, &status, WNOHANG) != starter) return "";
    starter = -1;
    return "ended with status " + std::to_string(status) + ":\n" + readFile(dir + "/log");
}
