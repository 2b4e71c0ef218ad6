// Events and waits with the kernel's semantics: manual or auto reset, a wait
// that consumes an auto-reset signal, WAIT_FAILED for a handle that is not an
// open event. An event may carry a pump (event_pump.h) that its waiter runs.
// Processes and threads are in objects.cpp.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/event_pump.h"
#include "platform/posix/objects.h"

namespace {

struct Event {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
    bool manualReset = false;
    EventPump* pump = nullptr;
    bool pumping = false;  // a waiter is in pump->pump()
    std::thread::id pumper;
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
    EventPump* pumpToWake = nullptr;
    {
        const std::lock_guard<std::mutex> lock(event->mutex);
        event->signalled = true;
        if (event->pumping && event->pumper != std::this_thread::get_id()) pumpToWake = event->pump;
    }
    event->changed.notify_all();
    // Still under the open-set lock, which a detach takes first.
    if (pumpToWake != nullptr) pumpToWake->wake();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return posix::waitEvent(handle, milliseconds);
}

namespace posix {

DWORD waitEvent(HANDLE handle, DWORD milliseconds) {
    Event* event = lookUp(handle);
    if (event == nullptr) return WAIT_FAILED;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    bool pumped = false;
    std::unique_lock<std::mutex> lock(event->mutex);
    while (!event->signalled) {
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            left = rest > 0 ? static_cast<DWORD>(rest) : 0;
        }
        // A pump runs at least once, even for a zero wait: it may hold what sets the event.
        if (event->pump != nullptr && !event->pumping && (left > 0 || !pumped)) {
            EventPump* pump = event->pump;
            event->pumping = true;
            event->pumper = std::this_thread::get_id();
            lock.unlock();
            const bool ran = pump->pump(left);
            lock.lock();
            event->pumping = false;
            event->changed.notify_all();  // for a detach, or a waiter that could not pump
            pumped = true;
            if (ran) continue;
        }
        if (left == 0) return WAIT_TIMEOUT;
        if (milliseconds == INFINITE) {
            event->changed.wait(lock);
        } else {
            event->changed.wait_until(lock, deadline);
        }
    }
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

}  // namespace posix

BOOL SetEventPump(HANDLE handle, EventPump* pump) {
    std::unique_lock<std::mutex> open(openMutex());
    auto* event = static_cast<Event*>(handle);
    if (openSet().count(event) == 0) return FALSE;
    std::unique_lock<std::mutex> lock(event->mutex);
    open.unlock();  // the pump in progress may set the event meanwhile
    event->pump = pump;
    event->changed.wait(lock, [event] { return !event->pumping; });
    return TRUE;
}

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
