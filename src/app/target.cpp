#include "app/target.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/process_names.h"
#include "output/console_text.h"

namespace {

// Exactly one root of the processes with that name; else says why not.
bool resolveName(CaptureBackend& backend, const char* name, std::uint32_t& pid) {
    std::vector<ProcessEntry> all;
    if (!backend.listProcesses(all)) return false;
    const std::vector<std::uint32_t> roots = rootsNamed(all, name, backend.executableNamesIgnoreCase());
    if (roots.size() == 1) {
        pid = roots[0];
        return true;
    }
    // The name as given, UTF-8: a console shows it as written.
    std::string line = roots.empty() ? "error: no process named " + std::string(name)
                                     : "error: " + std::to_string(roots.size()) + " processes named " + name + ":";
    for (std::size_t i = 0; i < roots.size(); ++i) line += (i == 0 ? " " : ", ") + std::to_string(roots[i]);
    writeText(stderr, (line + "\n").c_str());
    return false;
}

}  // namespace

bool resolveTarget(CaptureBackend& backend, const CaptureOptions& options, std::uint32_t& pid) {
    if (options.pid != 0) {
        pid = options.pid;
        return true;
    }
    if (options.hwnd == 0 && options.name != nullptr) return resolveName(backend, options.name, pid);
    std::uint32_t owner = 0;
    if (!backend.windowOwner(options.hwnd, owner) || owner == 0) {
        // The C runtimes' %p differ; the handle is always shown as 16 upper-case hex digits.
        std::fprintf(stderr, "error: could not resolve HWND %016llX to a process id\n",
                     static_cast<unsigned long long>(options.hwnd));
        return false;
    }
    pid = owner;
    return true;
}
