#include "platform/pulse/proc_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pulse {

bool parseStat(const char* text, std::size_t length, std::uint32_t pid, ProcStat& out) {
    const char* end = text + length;
    const char* close = nullptr;
    for (const char* p = text; p < end; ++p) {
        if (*p == ')') close = p;
    }
    if (close == nullptr) return false;
    // Fields 3.. after the ')', separated by single spaces.
    std::uint64_t values[20] = {};
    int field = 3;
    const char* p = close + 1;
    while (p < end && field <= 22) {
        while (p < end && *p == ' ') ++p;
        const char* start = p;
        while (p < end && *p != ' ' && *p != '\n') ++p;
        if (p == start) break;
        if (field == 4 || field == 22) {
            std::uint64_t value = 0;
            for (const char* d = start; d < p; ++d) {
                if (*d < '0' || *d > '9') return false;
                value = value * 10 + static_cast<std::uint64_t>(*d - '0');
            }
            values[field - 3] = value;
        }
        ++field;
    }
    if (field <= 22) return false;
    out.pid = pid;
    out.ppid = static_cast<std::uint32_t>(values[4 - 3]);
    out.startTime = values[22 - 3];
    return true;
}

std::vector<std::uint32_t> processTree(const std::vector<ProcStat>& all, std::uint32_t target,
                                       std::uint64_t targetStart) {
    std::vector<ProcStat> members;
    bool targetSeen = false;
    for (const ProcStat& p : all) {
        if (p.pid != target) continue;
        targetSeen = true;
        if (targetStart == 0 || p.startTime == targetStart) members.push_back(p);
    }
    // A target never seen running may still own streams the server knows.
    if (!targetSeen && targetStart == 0) members.push_back(ProcStat{target, 0, 0});
    for (std::size_t next = 0; next < members.size(); ++next) {
        const ProcStat parent = members[next];
        for (const ProcStat& p : all) {
            if (p.ppid == parent.pid && p.pid != parent.pid && p.startTime >= parent.startTime) members.push_back(p);
        }
    }
    std::vector<std::uint32_t> pids;
    pids.reserve(members.size());
    for (const ProcStat& p : members) pids.push_back(p.pid);
    std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    return pids;
}

bool inTree(const std::vector<std::uint32_t>& tree, std::uint32_t pid) {
    return std::binary_search(tree.begin(), tree.end(), pid);
}

bool readProcStat(std::uint32_t pid, ProcStat& out) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/stat", static_cast<unsigned>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[1024];
    ssize_t n = 0;
    do {
        n = ::read(fd, text, sizeof text);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n > 0 && parseStat(text, static_cast<std::size_t>(n), pid, out);
}

std::vector<ProcStat> readAllProcesses() {
    std::vector<ProcStat> all;
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return all;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid == 0 || pid > UINT32_MAX) continue;
        ProcStat stat;
        if (readProcStat(static_cast<std::uint32_t>(pid), stat)) all.push_back(stat);
    }
    ::closedir(dir);
    return all;
}

}  // namespace pulse
