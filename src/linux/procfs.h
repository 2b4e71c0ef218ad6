// Processes as /proc shows them: the one place the Linux backend reads it,
// for the process list (--list, --name) and for the target's tree.
// https://man7.org/linux/man-pages/man5/proc.5.html
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace linuxaudio {

struct ProcStat {
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint64_t startTime = 0;  // clock ticks after boot; tells a reused pid apart
};

// The text of /proc/<pid>/stat. The command name (field 2) may hold spaces and
// ')', so fields are counted from the last ')': ppid is field 4, start time 22.
bool parseStat(const char* text, std::size_t length, std::uint32_t pid, ProcStat& out);

// The target (if it is still the process that started at targetStart, or
// targetStart is 0: never seen) and every descendant, sorted. A child counts
// only if it started no earlier than its parent, so a process that took over a
// dead parent's pid does not adopt that parent's children.
std::vector<std::uint32_t> processTree(const std::vector<ProcStat>& all, std::uint32_t target,
                                       std::uint64_t targetStart);

bool inTree(const std::vector<std::uint32_t>& tree, std::uint32_t pid);

// /proc/<pid>/stat; false if the process is gone.
bool readProcStat(std::uint32_t pid, ProcStat& out);

// Every process now running (processes may end while they are read: those
// are left out). False, with errno set, when /proc cannot be read at all.
bool readAllProcesses(std::vector<ProcStat>& out);

// The base name of the process's executable file (/proc/<pid>/exe), or where
// that link cannot be read (another user's process, a kernel thread) the
// kernel's command name; empty if the process is gone.
std::string executableName(std::uint32_t pid);

}  // namespace linuxaudio
