// The C runtime's low-level stream calls. A write to a pipe whose reader has
// gone fails as it does on Windows: SIGPIPE is ignored from start-up on. A
// write that CancelSynchronousIo interrupts fails, as a cancelled WriteFile
// does, even when part of it had gone out.
#include <unistd.h>

#include <atomic>

#include "platform/platform.h"
#include "platform/posix/objects.h"

namespace {
// The mode only matters to a C runtime that translates line ends; this host's
// does not, so it is remembered for the caller and nothing else.
std::atomic<int> modes[3] = {{_O_TEXT}, {_O_TEXT}, {_O_TEXT}};
}  // namespace

int _setmode(int fd, int mode) {
    if (fd < 0 || fd > 2) return -1;
    return modes[fd].exchange(mode);
}

int _write(int fd, const void* buffer, unsigned int count) {
    const unsigned cancels = posix::cancelCount();
    const ssize_t n = ::write(fd, buffer, count);
    if (n < 0) return -1;
    const bool cancelled = static_cast<std::size_t>(n) < count && posix::cancelCount() != cancels;
    return cancelled ? -1 : static_cast<int>(n);
}
