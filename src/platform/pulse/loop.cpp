#include "platform/pulse/loop.h"

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

// libpulse enables a deferred event on nearly every delivery (to send the
// server its acknowledgement), and pa_mainloop answers each with a write to
// its wake-up pipe, a read, and a pass of its own. Run by the loop right after
// each dispatch on the same thread, they need none of that.
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
    l->loop_ = pa_mainloop_new();
    l->takeOverTimer_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (l->loop_ == nullptr || l->takeOverTimer_ < 0) {
        delete l;
        return nullptr;
    }
    pa_mainloop_set_poll_func(l->loop_, pollUnlocked, l);
    l->real_ = pa_mainloop_get_api(l->loop_);
    l->api_ = *l->real_;
    l->api_.userdata = l;
    l->api_.io_new = ioNew;
    l->api_.time_new = timeNew;
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
    for (Deferred* d : deferred_) {
        if (!d->dead && d->destroy != nullptr) d->destroy(&api_, reinterpret_cast<pa_defer_event*>(d), d->userdata);
        delete d;
    }
    if (loop_ != nullptr) pa_mainloop_free(loop_);
    if (takeOverTimer_ >= 0) ::close(takeOverTimer_);
}

void Loop::stop() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        armTakeOver(std::chrono::nanoseconds(1));  // if it is waiting for the waiter to go away
    }
    pa_mainloop_wakeup(loop_);  // if it is polling
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
        pa_mainloop_wakeup(loop_);
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
    if (runDeferred()) timeoutUsec = 0;
    if (pa_mainloop_prepare(loop_, timeoutUsec) < 0) return false;
    if (pa_mainloop_poll(loop_) < 0) return false;
    dispatching_ = true;
    const bool ok = pa_mainloop_dispatch(loop_) >= 0;
    runDeferred();
    dispatching_ = false;
    return ok;
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
    for (auto it = deferred_.begin(); it != deferred_.end();) {
        if ((*it)->dead) {
            delete *it;
            it = deferred_.erase(it);
        } else {
            ++it;
        }
    }
    return pending;
}

pa_io_event* Loop::ioNew(pa_mainloop_api* a, int fd, pa_io_event_flags_t events, pa_io_event_cb_t callback,
                         void* userdata) {
    pa_mainloop_api* real = static_cast<Loop*>(a->userdata)->real_;
    return real->io_new(real, fd, events, callback, userdata);
}

pa_time_event* Loop::timeNew(pa_mainloop_api* a, const struct timeval* tv, pa_time_event_cb_t callback,
                             void* userdata) {
    pa_mainloop_api* real = static_cast<Loop*>(a->userdata)->real_;
    return real->time_new(real, tv, callback, userdata);
}

void Loop::quit(pa_mainloop_api* a, int retval) {
    pa_mainloop_api* real = static_cast<Loop*>(a->userdata)->real_;
    real->quit(real, retval);
}

// The lock is held: by the thread that runs the loop, or by another that
// then wakes the loop's poll.
pa_defer_event* Loop::deferNew(pa_mainloop_api* a, pa_defer_event_cb_t callback, void* userdata) {
    auto* l = static_cast<Loop*>(a->userdata);
    auto* d = new Deferred{l, callback, userdata};
    l->deferred_.push_back(d);
    if (!l->dispatching_) pa_mainloop_wakeup(l->loop_);
    return reinterpret_cast<pa_defer_event*>(d);
}

void Loop::deferEnable(pa_defer_event* e, int enable) {
    auto* d = reinterpret_cast<Deferred*>(e);
    const bool was = d->enabled;
    d->enabled = enable != 0;
    if (d->enabled && !was && !d->loop->dispatching_) pa_mainloop_wakeup(d->loop->loop_);
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
int Loop::pollUnlocked(struct pollfd* fds, unsigned long count, int timeoutMs, void* self) {
    auto* l = static_cast<Loop*>(self);
    l->mutex_.unlock();
    const int result = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    const int error = errno;
    l->mutex_.lock();
    errno = error;
    return result;
}

}  // namespace pulse
