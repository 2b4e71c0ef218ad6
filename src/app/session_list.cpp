#include "app/session_list.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/session_table.h"

int listSessions(CaptureBackend& backend) {
    std::vector<SessionOwner> sessions;
    std::vector<ProcessEntry> processes;
    // The processes after the sessions, so every process that has one is among them.
    if (!backend.listSessions(sessions) || !backend.listProcesses(processes)) return 1;
    const std::string table = sessionTable(sessions, processes, sameExecutableOn(backend));
    backend.writeText(stdout, table.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}
