// Processes by executable name: which of them are the roots of their trees.
// Plain logic over a process snapshot, so both platforms' rules are tested anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/backend.h"

// Exact bytes; or, with ignoreCase (Windows file names), letters in either
// case (on Windows every letter's, as the file system compares them; elsewhere
// ASCII's) and a trailing ".exe" optional on either side.
bool sameExecutable(const std::string& a, const std::string& b, bool ignoreCase);

// The processes named `name` whose parent is not also so named, ascending.
std::vector<std::uint32_t> rootsNamed(const std::vector<ProcessEntry>& all, const std::string& name, bool ignoreCase);

// The highest ancestor of `pid` reached through parents with its executable;
// pid itself when its parent differs or is unknown.
std::uint32_t treeRoot(const std::vector<ProcessEntry>& all, std::uint32_t pid, bool ignoreCase);

// The entry of `pid`, or null.
const ProcessEntry* findProcess(const std::vector<ProcessEntry>& all, std::uint32_t pid);
