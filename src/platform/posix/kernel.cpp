// Events and waits with the kernel's semantics: manual or auto reset, a wait
// that consumes an auto-reset signal, WAIT_FAILED for a handle that is not an
// open event. Processes and threads are in objects.cpp.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/platform.h"
#include "platform/posix/objects.h"

namespace {

struct Event {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
    bool manualReset = false;
};

// Handles are checked against this set so that a stale or foreign handle is a
// failed call, as on Windows, rather than a wild pointer.
std::set<Event*>& openSet() {
    static auto* events = new std::set<Event*>;
    return *events;
}
std::mutex& openMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

Event* lookUp(HANDLE handle) {
    const std::lock_guard<std::mutex> lock(openMutex());
    auto* event = static_cast<Event*>(handle);
    return openSet().count(event) != 0 ? event : nullptr;
}

}  // namespace

HANDLE CreateEventW(void* /*eventAttributes*/, BOOL manualReset, BOOL initialState, LPCWSTR /*name*/) {
    auto* event = new Event;
    event->signalled = initialState != FALSE;
    event->manualReset = manualReset != FALSE;
    const std::lock_guard<std::mutex> lock(openMutex());
    openSet().insert(event);
    return event;
}

BOOL SetEvent(HANDLE handle) {
    // Held throughout, so that a CloseHandle racing with the audio thread's
    // signal cannot free the event under it.
    const std::lock_guard<std::mutex> open(openMutex());
    auto* event = static_cast<Event*>(handle);
    if (openSet().count(event) == 0) return FALSE;
    {
        const std::lock_guard<std::mutex> lock(event->mutex);
        event->signalled = true;
    }
    event->changed.notify_all();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return posix::waitEvent(handle, milliseconds);
}

namespace posix {

DWORD waitEvent(HANDLE handle, DWORD milliseconds) {
    Event* event = lookUp(handle);
    if (event == nullptr) return WAIT_FAILED;
    std::unique_lock<std::mutex> lock(event->mutex);
    const auto isSignalled = [event] { return event->signalled; };
    if (milliseconds == INFINITE) {
        event->changed.wait(lock, isSignalled);
    } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled)) {
        return WAIT_TIMEOUT;
    }
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

}  // namespace posix

BOOL CloseHandle(HANDLE handle) {
    auto* event = static_cast<Event*>(handle);
    {
        const std::lock_guard<std::mutex> lock(openMutex());
        if (openSet().erase(event) == 0) {
            return posix::closeObject(handle) || posix::closeSnapshot(handle) ? TRUE : FALSE;
        }
    }
    delete event;
    return TRUE;
}
