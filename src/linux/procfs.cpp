#include "linux/procfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace linuxaudio {

namespace {

// The contents of a small /proc file; 0 if it cannot be read.
std::size_t readSmall(const char* path, char* text, std::size_t size) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    ssize_t n = 0;
    do {
        n = ::read(fd, text, size);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

}  // namespace

bool parseStat(const char* text, std::size_t length, std::uint32_t pid, ProcStat& out) {
    const char* end = text + length;
    const char* close = nullptr;
    for (const char* p = text; p < end; ++p) {
        if (*p == ')') close = p;
    }
    if (close == nullptr) return false;
    std::uint64_t ppid = 0, start = 0;
    int field = 3;
    for (const char* p = close + 1; p < end && field <= 22; ++field) {
        while (p < end && *p == ' ') ++p;
        const char* first = p;
        while (p < end && *p != ' ' && *p != '\n') ++p;
        if (p == first) return false;
        if (field != 4 && field != 22) continue;
        std::uint64_t value = 0;
        for (const char* d = first; d < p; ++d) {
            if (*d < '0' || *d > '9') return false;
            value = value * 10 + static_cast<std::uint64_t>(*d - '0');
        }
        (field == 4 ? ppid : start) = value;
    }
    if (field <= 22) return false;
    out.pid = pid;
    out.ppid = static_cast<std::uint32_t>(ppid);
    out.startTime = start;
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
    char path[32], text[1024];
    std::snprintf(path, sizeof path, "/proc/%u/stat", static_cast<unsigned>(pid));
    const std::size_t n = readSmall(path, text, sizeof text);
    return n > 0 && parseStat(text, n, pid, out);
}

bool readAllProcesses(std::vector<ProcStat>& out) {
    out.clear();
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid == 0 || pid > UINT32_MAX) continue;
        ProcStat stat;
        if (readProcStat(static_cast<std::uint32_t>(pid), stat)) out.push_back(stat);
    }
    ::closedir(dir);
    return true;
}

std::string executableName(std::uint32_t pid) {
    char path[40], target[4096];
    std::snprintf(path, sizeof path, "/proc/%u/exe", static_cast<unsigned>(pid));
    const ssize_t n = ::readlink(path, target, sizeof target);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof target) {
        std::size_t length = static_cast<std::size_t>(n);
        // An executable replaced since it started (a package upgrade) is still itself.
        static constexpr char kDeleted[] = " (deleted)";
        constexpr std::size_t kDeletedLength = sizeof kDeleted - 1;
        if (length > kDeletedLength && std::memcmp(target + length - kDeletedLength, kDeleted, kDeletedLength) == 0) {
            length -= kDeletedLength;
        }
        std::size_t base = length;
        while (base > 0 && target[base - 1] != '/') --base;
        return std::string(target + base, length - base);
    }
    std::snprintf(path, sizeof path, "/proc/%u/comm", static_cast<unsigned>(pid));
    std::size_t length = readSmall(path, target, sizeof target);
    if (length > 0 && target[length - 1] == '\n') --length;
    return std::string(target, length);
}

}  // namespace linuxaudio
