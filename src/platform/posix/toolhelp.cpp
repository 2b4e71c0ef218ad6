// The process snapshot from /proc: every process's pid, parent and executable
// name, taken at once when the snapshot is created, as the toolhelp library does.
// The name is the base name of the executable file (/proc/<pid>/exe), else,
// where that link cannot be read (another user's process, a kernel thread),
// the kernel's command name.
// https://learn.microsoft.com/windows/win32/api/tlhelp32/nf-tlhelp32-createtoolhelp32snapshot
// https://man7.org/linux/man-pages/man5/proc_pid_exe.5.html
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "platform/posix/objects.h"

namespace {

struct Snapshot {
    std::vector<PROCESSENTRY32W> entries;
    std::size_t next = 0;
};

std::set<Snapshot*>& openSnapshots() {
    static auto* snapshots = new std::set<Snapshot*>;
    return *snapshots;
}
std::mutex& snapshotsMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

thread_local DWORD lastError = 0;

// The contents of a small /proc file; empty if it cannot be read.
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

// The parent is the second field after the command name, which may itself
// hold spaces and ')': fields are counted from the last ')'.
// https://man7.org/linux/man-pages/man5/proc_pid_stat.5.html
bool readParent(unsigned long pid, DWORD& parent) {
    char path[40], text[1024];
    std::snprintf(path, sizeof path, "/proc/%lu/stat", pid);
    const std::size_t n = readSmall(path, text, sizeof text - 1);
    text[n] = '\0';
    const char* close = std::strrchr(text, ')');
    unsigned long ppid = 0;
    if (close == nullptr || std::sscanf(close + 1, " %*c %lu", &ppid) != 1) return false;
    parent = static_cast<DWORD>(ppid);
    return true;
}

bool readName(unsigned long pid, WCHAR (&name)[MAX_PATH]) {
    char path[40], target[4096];
    std::snprintf(path, sizeof path, "/proc/%lu/exe", pid);
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
        posix::utf8ToWide(target + base, length - base, name, MAX_PATH);
        return length > base;
    }
    std::snprintf(path, sizeof path, "/proc/%lu/comm", pid);
    std::size_t length = readSmall(path, target, sizeof target);
    if (length > 0 && target[length - 1] == '\n') --length;
    posix::utf8ToWide(target, length, name, MAX_PATH);
    return length > 0;
}

Snapshot* lookUp(HANDLE handle) {
    auto* snapshot = static_cast<Snapshot*>(handle);
    return openSnapshots().count(snapshot) != 0 ? snapshot : nullptr;
}

}  // namespace

namespace posix {

void setLastError(DWORD error) { lastError = error; }

bool closeSnapshot(HANDLE handle) {
    const std::lock_guard<std::mutex> lock(snapshotsMutex());
    Snapshot* snapshot = lookUp(handle);
    if (snapshot == nullptr) return false;
    openSnapshots().erase(snapshot);
    delete snapshot;
    return true;
}

}  // namespace posix

DWORD GetLastError() { return lastError; }

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD /*th32ProcessID*/) {
    if ((flags & TH32CS_SNAPPROCESS) == 0) {
        posix::setLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr): the SDK defines it so
    }
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) {
        posix::setLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr): the SDK defines it so
    }
    auto* snapshot = new Snapshot;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid == 0 || pid > UINT32_MAX) continue;
        PROCESSENTRY32W process{};
        process.dwSize = sizeof process;
        process.th32ProcessID = static_cast<DWORD>(pid);
        // A process that ends while it is read is left out.
        if (readParent(pid, process.th32ParentProcessID) && readName(pid, process.szExeFile)) {
            snapshot->entries.push_back(process);
        }
    }
    ::closedir(dir);
    const std::lock_guard<std::mutex> lock(snapshotsMutex());
    openSnapshots().insert(snapshot);
    return snapshot;
}

BOOL Process32NextW(HANDLE handle, PROCESSENTRY32W* entry) {
    const std::lock_guard<std::mutex> lock(snapshotsMutex());
    Snapshot* snapshot = lookUp(handle);
    if (snapshot == nullptr || entry == nullptr) {
        posix::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (entry->dwSize != sizeof(PROCESSENTRY32W)) {
        posix::setLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (snapshot->next >= snapshot->entries.size()) {
        posix::setLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *entry = snapshot->entries[snapshot->next++];
    return TRUE;
}

BOOL Process32FirstW(HANDLE handle, PROCESSENTRY32W* entry) {
    {
        const std::lock_guard<std::mutex> lock(snapshotsMutex());
        Snapshot* snapshot = lookUp(handle);
        if (snapshot != nullptr) snapshot->next = 0;
    }
    return Process32NextW(handle, entry);
}
