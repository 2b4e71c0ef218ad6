// Waits on several objects: events and process handles, the lowest signalled
// index first, as the kernel reports it. Process handles alone are one poll of
// their pidfds; with an event among them, the first event is waited on in steps
// of kStepMs, between which the others are looked at.
// https://learn.microsoft.com/windows/win32/api/synchapi/nf-synchapi-waitformultipleobjects
#include <poll.h>

#include <algorithm>
#include <chrono>

#include "platform/posix/objects.h"

namespace {

constexpr DWORD kMaxObjects = 64;  // MAXIMUM_WAIT_OBJECTS
constexpr DWORD kStepMs = 10;

bool exited(int pidfd) {
    pollfd fd{pidfd, POLLIN, 0};
    return ::poll(&fd, 1, 0) == 1;
}

// WAIT_OBJECT_0 + i for the first signalled, WAIT_TIMEOUT for none, or WAIT_FAILED.
DWORD firstSignalled(DWORD count, const HANDLE* handles) {
    for (DWORD i = 0; i < count; ++i) {
        const int pidfd = posix::processDescriptor(handles[i]);
        const DWORD result = pidfd >= 0 ? (exited(pidfd) ? WAIT_OBJECT_0 : WAIT_TIMEOUT) : posix::waitEvent(handles[i], 0);
        if (result == WAIT_FAILED) return WAIT_FAILED;
        if (result == WAIT_OBJECT_0) return WAIT_OBJECT_0 + i;
    }
    return WAIT_TIMEOUT;
}

// Waits up to `ms` for one of the handles; WAIT_TIMEOUT also when only a step
// of it has passed, for the caller to look again.
DWORD waitStep(DWORD count, const HANDLE* handles, DWORD ms) {
    pollfd fds[kMaxObjects];
    for (DWORD i = 0; i < count; ++i) {
        const int pidfd = posix::processDescriptor(handles[i]);
        if (pidfd < 0) {
            // The first event; a signal it takes is this wait's result.
            const DWORD result = posix::waitEvent(handles[i], count == 1 ? ms : std::min(ms, kStepMs));
            return result == WAIT_OBJECT_0 ? WAIT_OBJECT_0 + i : result;
        }
        fds[i] = pollfd{pidfd, POLLIN, 0};
    }
    ::poll(fds, count, ms == INFINITE ? -1 : static_cast<int>(ms));
    return WAIT_TIMEOUT;
}

}  // namespace

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > kMaxObjects || handles == nullptr || waitAll) return WAIT_FAILED;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const DWORD found = firstSignalled(count, handles);
        if (found != WAIT_TIMEOUT) return found;
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            if (spent.count() >= milliseconds) return WAIT_TIMEOUT;
            left = milliseconds - static_cast<DWORD>(spent.count());
        }
        const DWORD result = waitStep(count, handles, left);
        if (result != WAIT_TIMEOUT) return result;
    }
}
