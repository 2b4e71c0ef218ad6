#include "app/session_table.h"

#include <map>

std::string sessionTable(const std::vector<SessionOwner>& sessions, const std::vector<ProcessEntry>& processes,
                         const SameExecutable& same) {
    std::map<std::uint32_t, bool> active;
    for (const SessionOwner& s : sessions) {
        if (s.pid != 0) active[s.pid] = active[s.pid] || s.active;
    }
    std::string table = "pid\tstate\texecutable\troot\n";
    for (const auto& owner : active) {
        const ProcessEntry* process = findProcess(processes, owner.first);
        if (process == nullptr) continue;
        table += std::to_string(owner.first) + (owner.second ? "\tactive\t" : "\tinactive\t") + process->executable +
                 "\t" + std::to_string(treeRoot(processes, owner.first, same)) + "\n";
    }
    return table;
}
