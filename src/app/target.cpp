#include "app/target.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/process_names.h"

namespace {

// Well within the 100 ms a program that starts may take to be seen.
constexpr std::chrono::milliseconds kNameCheck{50};

// Exactly one root of the processes with that name; else says why not. With
// `wait`, none yet is looked for again until one runs or a stop comes.
Resolved resolveName(CaptureBackend& backend, const char* name, bool wait, std::uint32_t& pid,
                     const std::atomic<bool>& stop) {
    std::vector<std::uint32_t> roots;
    for (bool said = false;; said = true) {
        std::vector<ProcessEntry> all;
        if (!backend.listProcesses(all)) return Resolved::Failed;
        roots = rootsNamed(all, name, sameExecutableOn(backend));
        if (!wait || !roots.empty()) break;
        if (!said) backend.writeText(stderr, ("info: waiting for " + std::string(name) + "\n").c_str());
        if (stop.load()) {
            backend.writeText(stderr, ("info: stopped while waiting for " + std::string(name) + "\n").c_str());
            return Resolved::Stopped;
        }
        std::this_thread::sleep_for(kNameCheck);
    }
    if (roots.size() == 1) {
        pid = roots[0];
        return Resolved::Found;
    }
    // The name as given, UTF-8: a console shows it as written.
    std::string line = roots.empty() ? "error: no process named " + std::string(name)
                                     : "error: " + std::to_string(roots.size()) + " processes named " + name + ":";
    for (std::size_t i = 0; i < roots.size(); ++i) line += (i == 0 ? " " : ", ") + std::to_string(roots[i]);
    backend.writeText(stderr, (line + "\n").c_str());
    return Resolved::Failed;
}

}  // namespace

Resolved resolveTarget(CaptureBackend& backend, const CaptureOptions& options, std::uint32_t& pid,
                       const std::atomic<bool>& stop) {
    if (options.pid != 0) {
        pid = options.pid;
        return Resolved::Found;
    }
    if (options.hwnd == 0 && options.name != nullptr)
        return resolveName(backend, options.name, options.waitForName, pid, stop);
    std::uint32_t owner = 0;
    if (!backend.windowOwner(options.hwnd, owner) || owner == 0) {
        // The C runtimes' %p differ; the handle is always shown as 16 upper-case hex digits.
        std::fprintf(stderr, "error: could not resolve HWND %016llX to a process id\n",
                     static_cast<unsigned long long>(options.hwnd));
        return Resolved::Failed;
    }
    pid = owner;
    return Resolved::Found;
}
