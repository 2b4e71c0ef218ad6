// libpulse's main loop, run by whichever thread needs it. While the program
// waits for its capture event, its own thread runs the loop (the event's pump):
// the loop's poll is the program's wait, so a packet costs one wake-up rather
// than one for a loop thread and another for the reader it wakes. A thread of
// the loop's own runs it the rest of the time: while connecting, before the
// program waits, and whenever the program has been away for longer than a
// couple of packets (a reader stuck on a full pipe), so that the mixer keeps
// time and the buffer drops the oldest audio as it would on Windows.
//
// As with pa_threaded_mainloop: callbacks run with the lock held; any other
// thread takes the lock before touching the context or its streams; the lock
// is released while the loop polls.
// https://freedesktop.org/software/pulseaudio/doxygen/mainloop_8h.html
#pragma once

#include <poll.h>
#include <pulse/mainloop.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/event_pump.h"

namespace pulse {

class Loop final : public EventPump {
public:
    // nullptr: no loop, no timer or no thread.
    static Loop* create();
    // Calls stop() first.
    ~Loop();
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    pa_mainloop_api* api() { return &api_; }

    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    // Lock held, not on a callback: releases it until signal().
    void wait();
    // Lock held.
    void signal() { signalled_.notify_all(); }

    // Ends the loop's own thread; nothing runs the loop afterwards. Never
    // from a callback, never with the lock held.
    void stop();

    bool pump(DWORD milliseconds) override;
    void wake() override { pa_mainloop_wakeup(loop_); }

private:
    enum class Runner { None, Own, Waiter };
    using Clock = std::chrono::steady_clock;
    struct Deferred;

    Loop() = default;
    void keep();
    bool iterate(int timeoutUsec);
    void armTakeOver(Clock::duration after);
    static int pollUnlocked(struct pollfd* fds, unsigned long count, int timeoutMs, void* self);

    // Deferred events are the loop's own (see loop.cpp).
    bool runDeferred();
    static pa_io_event* ioNew(pa_mainloop_api* a, int fd, pa_io_event_flags_t events, pa_io_event_cb_t callback,
                              void* userdata);
    static pa_time_event* timeNew(pa_mainloop_api* a, const struct timeval* tv, pa_time_event_cb_t callback,
                                  void* userdata);
    static pa_defer_event* deferNew(pa_mainloop_api* a, pa_defer_event_cb_t callback, void* userdata);
    static void deferEnable(pa_defer_event* e, int enable);
    static void deferFree(pa_defer_event* e);
    static void deferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t callback);
    static void quit(pa_mainloop_api* a, int retval);

    pa_mainloop* loop_ = nullptr;
    pa_mainloop_api* real_ = nullptr;
    pa_mainloop_api api_{};
    std::vector<Deferred*> deferred_;
    bool dispatching_ = false;
    int takeOverTimer_ = -1;  // fires when the waiter has been away too long
    std::mutex mutex_;
    std::condition_variable signalled_;
    std::condition_variable handedOver_;
    Runner runner_ = Runner::None;
    bool waiterWants_ = false;
    bool waiterSeen_ = false;
    bool stopping_ = false;
    bool broken_ = false;  // the poll failed for good
    Clock::time_point waiterLeft_{};
    Clock::time_point takeOverAt_{};  // the timer's deadline
    std::thread thread_;
};

}  // namespace pulse
