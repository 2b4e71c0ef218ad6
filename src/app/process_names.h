// Processes by executable name: which of them are the roots of their trees.
// Plain logic over a process snapshot; the platform says which names are the same.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/backend.h"

// Whether two executable names name the same program (CaptureBackend::sameExecutable).
using SameExecutable = std::function<bool(const std::string&, const std::string&)>;
inline SameExecutable sameExecutableOn(const CaptureBackend& backend) {
    return [&backend](const std::string& a, const std::string& b) { return backend.sameExecutable(a, b); };
}

// The processes named `name` whose parent is not also so named, ascending.
std::vector<std::uint32_t> rootsNamed(const std::vector<ProcessEntry>& all, const std::string& name,
                                      const SameExecutable& same);

// The highest ancestor of `pid` reached through parents with its executable;
// pid itself when its parent differs or is unknown.
std::uint32_t treeRoot(const std::vector<ProcessEntry>& all, std::uint32_t pid, const SameExecutable& same);

// The entry of `pid`, or null.
const ProcessEntry* findProcess(const std::vector<ProcessEntry>& all, std::uint32_t pid);
