// The C runtime's low-level stream calls. A write to a pipe whose reader has
// gone fails as it does on Windows: SIGPIPE is ignored from start-up on. A
// write that CancelSynchronousIo interrupts fails, as a cancelled WriteFile
// does, even when part of it had gone out.
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "platform/posix/objects.h"
#include "platform/posix/state.h"

int _setmode(int fd, int mode) {
    standin::State& s = standin::state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (fd < 0 || fd > 2) return -1;
    const int previous = s.modes[fd] != 0 ? s.modes[fd] : _O_TEXT;
    s.modes[fd] = mode;
    return previous;
}

int _write(int fd, const void* buffer, unsigned int count) {
    standin::State& s = standin::state();
    std::size_t allowed = count;
    if (fd == 1) {
        const std::lock_guard<std::mutex> lock(s.mutex);
        ++s.written.calls;
        ++s.writeCalls;
        if (s.written.bytes >= s.writes.failAfterBytes) return -1;
        const std::uint64_t left = s.writes.failAfterBytes - s.written.bytes;
        if (left < allowed) allowed = static_cast<std::size_t>(left);
        if (s.writes.maxBytesPerCall != 0) allowed = std::min<std::size_t>(allowed, s.writes.maxBytesPerCall);
    }
    const unsigned cancels = posix::cancelCount();
    const ssize_t n = ::write(fd, buffer, allowed);
    if (n < 0) return -1;
    const bool cancelled = static_cast<std::size_t>(n) < allowed && posix::cancelCount() != cancels;
    if (fd == 1) {
        const std::lock_guard<std::mutex> lock(s.mutex);
        s.written.bytes += static_cast<std::uint64_t>(n);
    }
    return cancelled ? -1 : static_cast<int>(n);
}
