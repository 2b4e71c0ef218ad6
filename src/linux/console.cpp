#include "linux/console.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace linuxaudio {

namespace {

constexpr int kConsoleSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

// Set once by watchConsoleSignals, before the watcher starts; read-only after.
struct Watch {
    std::atomic<bool>* stop = nullptr;
    sigset_t signals{};
    pid_t interrupted = 0;  // the thread whose blocking call a request cuts short
    std::atomic<int> wake{-1};  // made when a capture first waits: until then no descriptor is spent
};
Watch watch;

// What the program found, for the commands it starts; set once each, before any command.
struct Found {
    sigset_t mask{};
    bool maskKnown = false;
    struct sigaction pipe {}, fileSize {};
    bool actionsKnown = false;
};
Found found;

// A signal of our own whose handler does nothing, installed without
// SA_RESTART: the call it interrupts returns EINTR instead of resuming.
int interruptSignal() { return SIGRTMIN + 2; }
void interrupted(int /*signal*/) {}

// The signal's own default action, taken on this thread, where alone it is
// unblocked, so that no other thread can catch it first.
[[noreturn]] void endByDefaultAction(int sig) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(sig);
    _exit(128 + sig);  // not reached: each of these signals ends the process by default
}

void interruptWaiter() { ::syscall(SYS_tgkill, ::getpid(), watch.interrupted, interruptSignal()); }

// Every stop request, whatever made it, goes this way.
void requestStop() {
    watch.stop->store(true);
    const int wake = watch.wake.load();
    if (wake >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(wake, &one, sizeof one);
    }
    interruptWaiter();
}

// Reads standard input to its end, then stops the run and keeps its blocking
// calls cut short, as the signal watcher does after a signal.
void* readToEnd(void* /*unused*/) {
    char ignored[512];
    for (;;) {
        const ssize_t got = ::read(0, ignored, sizeof ignored);
        if (got > 0 || (got < 0 && errno == EINTR)) continue;
        if (got < 0 && errno == EAGAIN) {  // a parent's non-blocking pipe
            pollfd readable{0, POLLIN, 0};
            ::poll(&readable, 1, -1);
            continue;
        }
        break;  // its end, or an error: nothing more can come
    }
    requestStop();
    for (const timespec tick{0, 10000000L};;) {  // 10 ms
        ::nanosleep(&tick, nullptr);
        interruptWaiter();
    }
}

void* takeSignals(void* /*unused*/) {
    bool requested = false;
    for (;;) {
        int sig = 0;
        if (requested && watch.stop->load()) {
            // Until the program has stopped, its blocking calls keep being cut
            // short: a write larger than the pipe's atomic size that the first
            // signal cut returns the part written, and the rest would block again.
            const timespec tick{0, 10000000L};  // 10 ms
            sig = sigtimedwait(&watch.signals, nullptr, &tick);
            if (sig < 0) {
                if (errno == EAGAIN) interruptWaiter();
                continue;
            }
        } else if (sigwait(&watch.signals, &sig) != 0) {
            continue;
        }
        requested = true;
        requestStop();
        // The terminal or the system is going away: once the request is made, go.
        if (sig == SIGHUP || sig == SIGTERM) endByDefaultAction(sig);
    }
}

void say(const char* text) { (void)!::write(2, text, std::strlen(text)); }

bool startDetached(void* (*run)(void*), const char* unavailable) {
    pthread_attr_t detached;
    pthread_attr_init(&detached);
    pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int error = pthread_create(&thread, &detached, run, nullptr);
    pthread_attr_destroy(&detached);
    if (error == 0) return true;
    say(unavailable);
    say(std::strerror(error));
    say("\n");
    return false;
}

}  // namespace

void prepareStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // Read-only, so a closed standard output still makes every sample write
        // fail (EBADF) and the run stops in order. open() takes the lowest free number: fd.
        const int opened = ::open("/dev/null", O_RDONLY);
        if (opened > fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    found.actionsKnown = sigaction(SIGPIPE, &ignore, &found.pipe) == 0 && sigaction(SIGXFSZ, &ignore, &found.fileSize) == 0;
}

void watchConsoleSignals(std::atomic<bool>& stop) {
    // Once per process: the watcher reads what is set here for good.
    static std::atomic<bool> watching{false};
    if (watching.exchange(true)) return;
    watch.stop = &stop;
    watch.interrupted = static_cast<pid_t>(::syscall(SYS_gettid));
    sigemptyset(&watch.signals);
    bool any = false;
    for (int sig : kConsoleSignals) {
        // Ignored by whoever started us (nohup, a background job): stays so.
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&watch.signals, sig);
        any = true;
    }
    // Installed even when no console signal is watched: the end of standard input interrupts with it too.
    struct sigaction cut {};
    cut.sa_handler = interrupted;
    sigemptyset(&cut.sa_mask);
    sigaction(interruptSignal(), &cut, nullptr);
    if (!any) return;
    // Blocked here, so in every thread started from now on, the watcher included.
    found.maskKnown = pthread_sigmask(SIG_BLOCK, &watch.signals, &found.mask) == 0;
    if (!startDetached(takeSignals, "warn: console control events unavailable: ")) {
        // Nothing would take them: they act by default rather than not at all.
        pthread_sigmask(SIG_UNBLOCK, &watch.signals, nullptr);
    }
}

void restoreSignalsForCommand() {
    if (found.maskKnown) sigprocmask(SIG_SETMASK, &found.mask, nullptr);
    if (found.actionsKnown) {
        sigaction(SIGPIPE, &found.pipe, nullptr);
        sigaction(SIGXFSZ, &found.fileSize, nullptr);
    }
}

void watchEndOfInput() {
    static std::atomic<bool> watching{false};
    if (watch.stop == nullptr || watching.exchange(true)) return;
    startDetached(readToEnd, "warn: standard input unwatched: ");
}

int wakeDescriptor() {
    if (watch.stop == nullptr) return -1;
    int wake = watch.wake.load();
    if (wake < 0) {
        wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        watch.wake.store(wake);
    }
    return wake;
}

void drainWake() {
    std::uint64_t count = 0;
    const int wake = watch.wake.load();
    if (wake >= 0) (void)!::read(wake, &count, sizeof count);
}

}  // namespace linuxaudio
