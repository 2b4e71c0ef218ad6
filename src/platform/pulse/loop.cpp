#include "platform/pulse/loop.h"

#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace pulse {

namespace {

// How long the program may be away from its wait before the loop's own thread
// takes over: two packets, within the level each stream keeps in hand.
constexpr std::chrono::milliseconds kTakeOverAfter{20};
constexpr std::chrono::milliseconds kTimerSlack{2};

}  // namespace

// The events libpulse asks of its loop. Freed events are only marked: a
// dispatch in progress may still reach them; the sweep after it deletes them.
struct Loop::Io {
    Loop* loop;
    int fd;
    pa_io_event_flags_t events;
    pa_io_event_cb_t callback;
    void* userdata;
    pa_io_event_destroy_cb_t destroy = nullptr;
    std::size_t slot = 0;  // in pollSet_; 0: not polled yet
    bool dead = false;
};

struct Loop::Timer {
    Loop* loop;
    pa_time_event_cb_t callback;
    void* userdata;
    pa_time_event_destroy_cb_t destroy = nullptr;
    bool enabled = false;
    pa_usec_t due = 0;   // pa_rtclock
    struct timeval tv{};  // as given, handed back to the callback
    bool dead = false;
};

// libpulse enables a deferred event on nearly every delivery (to send the
// server its acknowledgement); run right after each dispatch on the same
// thread, they need no pass of the poll.
struct Loop::Deferred {
    Loop* loop;
    pa_defer_event_cb_t callback;
    void* userdata;
    pa_defer_event_destroy_cb_t destroy = nullptr;
    bool enabled = true;
    bool dead = false;
};

Loop* Loop::create() {
    auto* l = new Loop;
    l->wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    l->takeOverTimer_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (l->wakeFd_ < 0 || l->takeOverTimer_ < 0) {
        delete l;
        return nullptr;
    }
    l->api_.userdata = l;
    l->api_.io_new = ioNew;
    l->api_.io_enable = ioEnable;
    l->api_.io_free = ioFree;
    l->api_.io_set_destroy = ioSetDestroy;
    l->api_.time_new = timeNew;
    l->api_.time_restart = timeRestart;
    l->api_.time_free = timeFree;
    l->api_.time_set_destroy = timeSetDestroy;
    l->api_.defer_new = deferNew;
    l->api_.defer_enable = deferEnable;
    l->api_.defer_free = deferFree;
    l->api_.defer_set_destroy = deferSetDestroy;
    l->api_.quit = quit;
    try {
        l->thread_ = std::thread(&Loop::keep, l);
    } catch (...) {
        delete l;
        return nullptr;
    }
    return l;
}

Loop::~Loop() {
    stop();
    for (Io* e : ios_) {
        if (!e->dead) ioFree(reinterpret_cast<pa_io_event*>(e));
        delete e;
    }
    for (Timer* e : timers_) {
        if (!e->dead) timeFree(reinterpret_cast<pa_time_event*>(e));
        delete e;
    }
    for (Deferred* e : deferred_) {
        if (!e->dead) deferFree(reinterpret_cast<pa_defer_event*>(e));
        delete e;
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
    if (takeOverTimer_ >= 0) ::close(takeOverTimer_);
}

void Loop::wake() {
    const std::uint64_t one = 1;
    if (::write(wakeFd_, &one, sizeof one) < 0) {
        // EAGAIN: the counter is full, so the poll ends anyway.
    }
}

void Loop::stop() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        armTakeOver(std::chrono::nanoseconds(1));  // if it is waiting for the waiter to go away
    }
    wake();  // if it is polling
    thread_.join();
}

void Loop::wait() {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    signalled_.wait(lock);
    lock.release();
}

// The own thread: runs the loop while no waiter does, else sleeps until the
// waiter has been away for kTakeOverAfter (the timer each pump re-arms).
void Loop::keep() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ && !broken_) {
        if (runner_ == Runner::None && !waiterWants_) {
            const Clock::duration away = Clock::now() - waiterLeft_;
            if (!waiterSeen_ || away >= kTakeOverAfter) {
                runner_ = Runner::Own;
                if (!iterate(-1)) broken_ = true;
                runner_ = Runner::None;
                if (waiterWants_ || broken_) handedOver_.notify_all();
                continue;
            }
            armTakeOver(kTakeOverAfter - away);
        }
        lock.unlock();
        struct pollfd timer = {takeOverTimer_, POLLIN, 0};
        ::poll(&timer, 1, -1);
        std::uint64_t expirations = 0;
        if (::read(takeOverTimer_, &expirations, sizeof expirations) < 0) {
            // Not expired yet (EAGAIN) or interrupted: look again.
        }
        lock.lock();
    }
}

bool Loop::pump(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_ || broken_ || runner_ == Runner::Waiter) return false;
    waiterSeen_ = true;
    if (runner_ == Runner::Own) {
        // Its poll ends at the wake-up and it hands over after that dispatch,
        // which may have set the event: the waiter looks before it polls.
        waiterWants_ = true;
        wake();
        handedOver_.wait(lock, [this] { return runner_ != Runner::Own; });
        waiterWants_ = false;
    } else {
        runner_ = Runner::Waiter;
        // At most 1000 s per call: the timeout is in microseconds in an int.
        const int timeoutUsec =
            milliseconds == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(milliseconds, 1000000) * 1000);
        if (!iterate(timeoutUsec)) broken_ = true;
        runner_ = Runner::None;
    }
    // A wait often takes two calls a moment apart (the second after a deferred
    // event); the timer is moved only when that changes its deadline.
    waiterLeft_ = Clock::now();
    if (waiterLeft_ + kTakeOverAfter - takeOverAt_ > kTimerSlack) armTakeOver(kTakeOverAfter);
    return true;
}

bool Loop::iterate(int timeoutUsec) {
    // Enabled from another thread while no one dispatched: due before the poll.
    dispatching_ = true;
    if (runDeferred()) timeoutUsec = 0;
    dispatching_ = false;
    if (rebuild_) rebuildPollSet();
    const int ready = pollUnlocked(timeoutFor(timeoutUsec));
    if (ready < 0) return errno == EINTR;
    dispatching_ = true;
    if (pollSet_[0].revents != 0) {
        std::uint64_t count = 0;
        if (::read(wakeFd_, &count, sizeof count) < 0) {
            // Left set, it only ends the next poll at once and is read then.
        }
    }
    runTimers();
    // By index, over the set that was polled: a callback may add or free events.
    for (std::size_t i = 1; ready > 0 && i < pollSet_.size(); ++i) {
        const short revents = pollSet_[i].revents;
        Io* e = polled_[i];
        if (revents == 0 || e->dead) continue;
        const auto flags = static_cast<pa_io_event_flags_t>(
            ((revents & POLLIN) != 0 ? PA_IO_EVENT_INPUT : 0) | ((revents & POLLOUT) != 0 ? PA_IO_EVENT_OUTPUT : 0) |
            ((revents & POLLERR) != 0 ? PA_IO_EVENT_ERROR : 0) | ((revents & POLLHUP) != 0 ? PA_IO_EVENT_HANGUP : 0));
        e->callback(&api_, reinterpret_cast<pa_io_event*>(e), e->fd, flags, e->userdata);
    }
    runDeferred();
    sweep();
    dispatching_ = false;
    return true;
}

namespace {

short pollEvents(pa_io_event_flags_t events) {
    return static_cast<short>(((events & PA_IO_EVENT_INPUT) != 0 ? POLLIN : 0) |
                              ((events & PA_IO_EVENT_OUTPUT) != 0 ? POLLOUT : 0));
}

}  // namespace

void Loop::rebuildPollSet() {
    pollSet_.clear();
    polled_.clear();
    pollSet_.push_back({wakeFd_, POLLIN, 0});
    polled_.push_back(nullptr);
    for (Io* e : ios_) {
        if (e->dead) continue;
        e->slot = pollSet_.size();
        pollSet_.push_back({e->fd, pollEvents(e->events), 0});
        polled_.push_back(e);
    }
    rebuild_ = false;
}

// The poll's time-out in milliseconds: the caller's, or sooner for a timer;
// rounded up, so that the poll does not end before the timer is due.
int Loop::timeoutFor(int timeoutUsec) const {
    pa_usec_t wait = timeoutUsec < 0 ? PA_USEC_INVALID : static_cast<pa_usec_t>(timeoutUsec);
    pa_usec_t now = 0;
    for (const Timer* t : timers_) {
        if (t->dead || !t->enabled) continue;
        if (now == 0) now = pa_rtclock_now();
        const pa_usec_t left = t->due > now ? t->due - now : 0;
        if (wait == PA_USEC_INVALID || left < wait) wait = left;
    }
    if (wait == PA_USEC_INVALID) return -1;
    return static_cast<int>(std::min<pa_usec_t>((wait + 999) / 1000, INT32_MAX));
}

void Loop::runTimers() {
    pa_usec_t now = 0;
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        Timer* t = timers_[i];
        if (t->dead || !t->enabled) continue;
        if (now == 0) now = pa_rtclock_now();
        if (t->due > now) continue;
        t->enabled = false;
        t->callback(&api_, reinterpret_cast<pa_time_event*>(t), &t->tv, t->userdata);
    }
}

// Deletes the events freed since the last sweep.
void Loop::sweep() {
    const auto gone = [](auto* e) {
        if (!e->dead) return false;
        delete e;
        return true;
    };
    ios_.erase(std::remove_if(ios_.begin(), ios_.end(), gone), ios_.end());
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(), gone), timers_.end());
    deferred_.erase(std::remove_if(deferred_.begin(), deferred_.end(), gone), deferred_.end());
}

// Runs the enabled deferred events until none is left enabled (bounded: one
// that keeps itself enabled gets its next turn after a zero-time poll).
// true: one is still enabled.
bool Loop::runDeferred() {
    bool pending = false;
    for (int round = 0; round < 8; ++round) {
        pending = false;
        // By index: a callback may add events.
        for (std::size_t i = 0; i < deferred_.size(); ++i) {
            Deferred* d = deferred_[i];
            if (d->dead || !d->enabled) continue;
            d->callback(&api_, reinterpret_cast<pa_defer_event*>(d), d->userdata);
            pending = pending || (!d->dead && d->enabled);
        }
        if (!pending) break;
    }
    return pending;
}

// Every event call comes with the lock held: from a callback on the thread
// that runs the loop (dispatching_), which polls again only after it has
// applied the change, or from another thread, whose change must end a poll
// in progress.
pa_io_event* Loop::ioNew(pa_mainloop_api* a, int fd, pa_io_event_flags_t events, pa_io_event_cb_t callback,
                         void* userdata) {
    auto* l = static_cast<Loop*>(a->userdata);
    auto* e = new Io{l, fd, events, callback, userdata};
    l->ios_.push_back(e);
    l->rebuild_ = true;
    if (!l->dispatching_) l->wake();
    return reinterpret_cast<pa_io_event*>(e);
}

void Loop::ioEnable(pa_io_event* event, pa_io_event_flags_t events) {
    auto* e = reinterpret_cast<Io*>(event);
    if (e->events == events) return;
    e->events = events;
    Loop* l = e->loop;
    if (e->slot != 0 && !l->rebuild_) l->pollSet_[e->slot].events = pollEvents(events);
    else l->rebuild_ = true;
    if (!l->dispatching_) l->wake();
}

void Loop::ioFree(pa_io_event* event) {
    auto* e = reinterpret_cast<Io*>(event);
    e->dead = true;
    e->loop->rebuild_ = true;
    if (!e->loop->dispatching_) e->loop->wake();
    if (e->destroy != nullptr) e->destroy(&e->loop->api_, event, e->userdata);
}

void Loop::ioSetDestroy(pa_io_event* event, pa_io_event_destroy_cb_t callback) {
    reinterpret_cast<Io*>(event)->destroy = callback;
}

namespace {

// A loop other than pa_mainloop is handed wall-clock times
// (pa_context_rttime_new); the loop keeps time on pa_rtclock.
// https://freedesktop.org/software/pulseaudio/doxygen/context_8h.html
pa_usec_t rtclockOf(const struct timeval* tv) {
    struct timeval now{};
    pa_gettimeofday(&now);
    const auto wall = static_cast<std::int64_t>(pa_timeval_load(&now));
    const auto at = static_cast<std::int64_t>(pa_timeval_load(tv)) - wall + static_cast<std::int64_t>(pa_rtclock_now());
    return at > 0 ? static_cast<pa_usec_t>(at) : 0;
}

}  // namespace

pa_time_event* Loop::timeNew(pa_mainloop_api* a, const struct timeval* tv, pa_time_event_cb_t callback,
                             void* userdata) {
    auto* l = static_cast<Loop*>(a->userdata);
    auto* e = new Timer{l, callback, userdata};
    l->timers_.push_back(e);
    timeRestart(reinterpret_cast<pa_time_event*>(e), tv);
    return reinterpret_cast<pa_time_event*>(e);
}

void Loop::timeRestart(pa_time_event* event, const struct timeval* tv) {
    auto* e = reinterpret_cast<Timer*>(event);
    e->enabled = tv != nullptr;
    if (tv == nullptr) return;
    e->tv = *tv;
    e->due = rtclockOf(tv);
    if (!e->loop->dispatching_) e->loop->wake();
}

void Loop::timeFree(pa_time_event* event) {
    auto* e = reinterpret_cast<Timer*>(event);
    e->dead = true;
    e->enabled = false;
    if (e->destroy != nullptr) e->destroy(&e->loop->api_, event, e->userdata);
}

void Loop::timeSetDestroy(pa_time_event* event, pa_time_event_destroy_cb_t callback) {
    reinterpret_cast<Timer*>(event)->destroy = callback;
}

// Nothing here runs the loop until told to quit; libpulse never asks.
void Loop::quit(pa_mainloop_api* /*a*/, int /*retval*/) {}

// The lock is held: by the thread that runs the loop, or by another that
// then wakes the loop's poll.
pa_defer_event* Loop::deferNew(pa_mainloop_api* a, pa_defer_event_cb_t callback, void* userdata) {
    auto* l = static_cast<Loop*>(a->userdata);
    auto* d = new Deferred{l, callback, userdata};
    l->deferred_.push_back(d);
    if (!l->dispatching_) l->wake();
    return reinterpret_cast<pa_defer_event*>(d);
}

void Loop::deferEnable(pa_defer_event* e, int enable) {
    auto* d = reinterpret_cast<Deferred*>(e);
    const bool was = d->enabled;
    d->enabled = enable != 0;
    if (d->enabled && !was && !d->loop->dispatching_) d->loop->wake();
}

void Loop::deferFree(pa_defer_event* e) {
    auto* d = reinterpret_cast<Deferred*>(e);
    d->dead = true;
    d->enabled = false;
    if (d->destroy != nullptr) d->destroy(&d->loop->api_, e, d->userdata);
}

void Loop::deferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t callback) {
    reinterpret_cast<Deferred*>(e)->destroy = callback;
}

// Lock held.
void Loop::armTakeOver(Clock::duration after) {
    const auto ns = std::max<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(after).count(), 1);
    takeOverAt_ = Clock::now() + after;
    struct itimerspec when = {};
    when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    timerfd_settime(takeOverTimer_, 0, &when, nullptr);
}

// Like pa_threaded_mainloop's: other threads may take the lock while the loop waits.
int Loop::pollUnlocked(int timeoutMs) {
    mutex_.unlock();
    const int result = ::poll(pollSet_.data(), static_cast<nfds_t>(pollSet_.size()), timeoutMs);
    const int error = errno;
    mutex_.lock();
    errno = error;
    return result;
}

}  // namespace pulse
