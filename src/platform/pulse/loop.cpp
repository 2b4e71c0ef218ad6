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

Loop* Loop::create() {
    auto* l = new Loop;
    l->loop_ = pa_mainloop_new();
    l->takeOverTimer_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (l->loop_ == nullptr || l->takeOverTimer_ < 0) {
        delete l;
        return nullptr;
    }
    pa_mainloop_set_poll_func(l->loop_, pollUnlocked, l);
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
    if (loop_ != nullptr) pa_mainloop_free(loop_);
    if (takeOverTimer_ >= 0) ::close(takeOverTimer_);
}

void Loop::stop() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    pa_mainloop_wakeup(loop_);  // if it is polling
    armTakeOver(std::chrono::nanoseconds(1));  // if it is waiting for the waiter to go away
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
    if (pa_mainloop_prepare(loop_, timeoutUsec) < 0) return false;
    if (pa_mainloop_poll(loop_) < 0) return false;
    return pa_mainloop_dispatch(loop_) >= 0;
}

void Loop::armTakeOver(Clock::duration after) {
    const auto ns = std::max<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(after).count(), 1);
    takeOverAt_ = Clock::now() + after;
    struct itimerspec spec = {};
    spec.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    spec.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    timerfd_settime(takeOverTimer_, 0, &spec, nullptr);
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
