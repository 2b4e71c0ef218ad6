#include "linux/selection.h"

#include <cstdlib>

#include "linux/procfs.h"

namespace linuxaudio {

std::uint32_t pidFromText(const char* text) {
    if (text == nullptr || *text < '0' || *text > '9') return 0;
    char* end = nullptr;
    const unsigned long long pid = std::strtoull(text, &end, 10);
    return *end == '\0' && pid <= UINT32_MAX ? static_cast<std::uint32_t>(pid) : 0;
}

std::uint32_t ownerOf(const StreamFacts& facts) {
    if (facts.clientSecPid != 0 && facts.clientSecPid != facts.bridgePid) return facts.clientSecPid;
    return facts.streamPid != 0 ? facts.streamPid : facts.clientPid;
}

bool captured(const std::vector<std::uint32_t>& tree, bool includeTree, std::uint32_t owner) {
    const bool ofTarget = owner != 0 && inTree(tree, owner);
    return includeTree ? ofTarget : !ofTarget;
}

}  // namespace linuxaudio
