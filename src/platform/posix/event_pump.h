// An event whose setter can do its own waiting on the thread that waits for
// the event. A service that would otherwise wake a thread of its own to set
// the event, only for that to wake the waiter, lets the waiter run the
// service's poll instead: one sleep and one wake-up where there were two.
// The waiter sees no difference; WaitForSingleObject keeps its meaning.
#pragma once

#include "platform/posix/win32.h"

class EventPump {
public:
    // On the waiting thread, with no lock held, while the event is not set.
    // Waits up to `milliseconds` (INFINITE: no limit) for the service's own
    // input and handles it, which may set the event; may return sooner.
    // false: it cannot run now, and the waiter sleeps on the event alone
    // until it is set or the time is up.
    virtual bool pump(DWORD milliseconds) = 0;

    // From SetEvent on any thread but the pumping one: end the current
    // pump() soon, so that the waiter sees the event.
    virtual void wake() = 0;

protected:
    ~EventPump() = default;
};

// Attaches a pump to an open event, or with nullptr detaches it; detaching
// waits for a pump() in progress to return. FALSE for a handle that is not an
// open event.
BOOL SetEventPump(HANDLE event, EventPump* pump);
