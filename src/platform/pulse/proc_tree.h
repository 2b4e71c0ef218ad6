// A process and its descendants, from /proc. Plain logic and file reads; no
// audio server involved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pulse {

struct ProcStat {
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint64_t startTime = 0;  // clock ticks after boot; tells a reused pid apart
};

// The text of /proc/<pid>/stat. The command name (field 2) may hold spaces and
// ')', so fields are counted from the last ')': ppid is field 4, start time 22.
// https://man7.org/linux/man-pages/man5/proc_pid_stat.5.html
bool parseStat(const char* text, std::size_t length, std::uint32_t pid, ProcStat& out);

// The target (if it is still the process that started at targetStart, or
// targetStart is 0: never seen) and every descendant, sorted. A child counts
// only if it started no earlier than its parent, so a process that took over a
// dead parent's pid does not adopt that parent's children.
std::vector<std::uint32_t> processTree(const std::vector<ProcStat>& all, std::uint32_t target,
                                       std::uint64_t targetStart);

bool inTree(const std::vector<std::uint32_t>& tree, std::uint32_t pid);

// Reads /proc/<pid>/stat; false if the process is gone.
bool readProcStat(std::uint32_t pid, ProcStat& out);

// Every process now running (best effort: processes may exit while listed).
std::vector<ProcStat> readAllProcesses();

}  // namespace pulse
