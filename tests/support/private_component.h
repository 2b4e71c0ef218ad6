// The private components the tests meet (an audio server, a Wine prefix), each
// started in a temporary directory of its own by one of scripts/lib's starters,
// which stops the component's processes by the pids it recorded when it is
// stopped by the pid recorded here. <dir>/pids lists them, the main one first.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"

struct PrivateComponent {
    // scripts/lib/<starter> <dir> <args...>; throws, with its log, unless it is ready in 30 s.
    explicit PrivateComponent(const std::string& starter, const std::vector<std::string>& args = {});
    ~PrivateComponent();
    PrivateComponent(const PrivateComponent&) = delete;
    PrivateComponent& operator=(const PrivateComponent&) = delete;

    std::string dead();  // how the starter ended, with its log; empty while it runs

    std::string dir, ready;  // ready: what the starter reported, e.g. a server's "<name> <version>"
    Environment env;         // for its clients, on top of the test's
    pid_t starter = -1;
};
