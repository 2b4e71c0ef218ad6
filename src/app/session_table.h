// The table --list prints: one line per process with an audio session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/process_names.h"
#include "capture/backend.h"

// A header line, then per process (ascending pid; a process with several
// sessions once, active if any is) its pid, state, executable and the root of
// its tree with that executable, separated by tabs. Sessions of no single
// process (pid 0) and of processes that have ended are left out.
std::string sessionTable(const std::vector<SessionOwner>& sessions, const std::vector<ProcessEntry>& processes,
                         const SameExecutable& same);
