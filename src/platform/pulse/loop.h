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
//
// The loop implements pa_mainloop_api itself rather than wrapping pa_mainloop:
// libpulse re-enables its socket's I/O event around every read, and
// pa_mainloop answers each change with a write to its wake-up pipe and a read
// before the next poll. Here a change made on the loop's own thread only
// edits the poll set; other threads wake the poll through an eventfd.
// https://freedesktop.org/software/pulseaudio/doxygen/structpa__mainloop__api.html
#pragma once

#include <poll.h>
#include <pulse/mainloop-api.h>

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
    void wake() override;

private:
    enum class Runner { None, Own, Waiter };
    using Clock = std::chrono::steady_clock;
    struct Io;
    struct Timer;
    struct Deferred;

    Loop() = default;
    void keep();
    bool iterate(int timeoutUsec);
    int pollUnlocked(int timeoutMs);
    void rebuildPollSet();
    int timeoutFor(int timeoutUsec) const;
    void runTimers();
    void sweep();
    void armTakeOver(Clock::duration after);
    bool runDeferred();

    static pa_io_event* ioNew(pa_mainloop_api* a, int fd, pa_io_event_flags_t events, pa_io_event_cb_t callback,
                              void* userdata);
    static void ioEnable(pa_io_event* e, pa_io_event_flags_t events);
    static void ioFree(pa_io_event* e);
    static void ioSetDestroy(pa_io_event* e, pa_io_event_destroy_cb_t callback);
    static pa_time_event* timeNew(pa_mainloop_api* a, const struct timeval* tv, pa_time_event_cb_t callback,
                                  void* userdata);
    static void timeRestart(pa_time_event* e, const struct timeval* tv);
    static void timeFree(pa_time_event* e);
    static void timeSetDestroy(pa_time_event* e, pa_time_event_destroy_cb_t callback);
    static pa_defer_event* deferNew(pa_mainloop_api* a, pa_defer_event_cb_t callback, void* userdata);
    static void deferEnable(pa_defer_event* e, int enable);
    static void deferFree(pa_defer_event* e);
    static void deferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t callback);
    static void quit(pa_mainloop_api* a, int retval);

    pa_mainloop_api api_{};
    int wakeFd_ = -1;  // eventfd: other threads end the poll
    std::vector<Io*> ios_;
    std::vector<Timer*> timers_;
    std::vector<Deferred*> deferred_;
    std::vector<struct pollfd> pollSet_;  // [0] is wakeFd_
    std::vector<Io*> polled_;             // the event behind each entry of pollSet_
    bool rebuild_ = true;
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
