// Console control events from POSIX signals. The console calls handlers on a
// thread of its own for each event, never in an interrupted context. Here the
// console signals are blocked in every thread from process start (startup.cpp)
// and one thread takes them with sigwait, so nothing runs in a signal handler
// and nothing needs a descriptor: a storm of signals or a full descriptor table
// cannot stop an event from getting through.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/console_signals.h"

namespace {

constexpr int kMaxHandlers = 8;
std::atomic<PHANDLER_ROUTINE> handlers[kMaxHandlers];
std::atomic<int> handlerCount{0};
pthread_mutex_t registration = PTHREAD_MUTEX_INITIALIZER;
sigset_t watchedSignals;  // written once before the watcher starts

struct SignalEvent {
    int signal;
    DWORD ctrlType;
};
constexpr SignalEvent kSignals[] = {
    {SIGINT, CTRL_C_EVENT},
    {SIGQUIT, CTRL_BREAK_EVENT},  // the terminal's Ctrl+\ stands in for Ctrl+Break
    {SIGHUP, CTRL_CLOSE_EVENT},   // the terminal went away
    {SIGTERM, CTRL_SHUTDOWN_EVENT},
};

bool callHandlers(DWORD ctrlType) {
    for (int i = handlerCount.load() - 1; i >= 0; --i) {
        const PHANDLER_ROUTINE handler = handlers[i].load();
        if (handler != nullptr && handler(ctrlType)) return true;
    }
    return false;
}

// The signal's own default action, taken on this thread: it is unblocked here
// only, so no other thread can catch it first.
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

// What the console does with one event: run the handlers, latest first; end
// the process when none takes Ctrl+C or Ctrl+Break, and always after close,
// logoff and shutdown once the handlers have returned.
// https://learn.microsoft.com/windows/console/handlerroutine
void deliver(int sig, DWORD ctrlType) {
    const bool handled = callHandlers(ctrlType);
    const bool endsProcess = ctrlType == CTRL_CLOSE_EVENT || ctrlType == CTRL_LOGOFF_EVENT ||
                             ctrlType == CTRL_SHUTDOWN_EVENT || !handled;
    if (endsProcess) endByDefaultAction(sig);
}

void* deliverOnOwnThread(void* signalNumber) {
    const int sig = static_cast<int>(reinterpret_cast<std::intptr_t>(signalNumber));
    for (const SignalEvent& e : kSignals) {
        if (e.signal == sig) deliver(sig, e.ctrlType);
    }
    return nullptr;
}

void* watch(void* /*unused*/) {
    pthread_attr_t detached;
    pthread_attr_init(&detached);
    pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED);
    for (;;) {
        int sig = 0;
        if (sigwait(&watchedSignals, &sig) != 0) continue;
        void* arg = reinterpret_cast<void*>(static_cast<std::intptr_t>(sig));  // NOLINT(performance-no-int-to-ptr)
        pthread_t thread;
        // Without a thread to spare, the event is still delivered, here.
        if (pthread_create(&thread, &detached, deliverOnOwnThread, arg) != 0) deliverOnOwnThread(arg);
    }
}

}  // namespace

namespace posix {

void chooseConsoleSignals(sigset_t& watched) {
    sigemptyset(&watched);
    for (const SignalEvent& e : kSignals) {
        // A signal ignored by whoever started us (nohup, a background job)
        // stays ignored, as a console process started with Ctrl+C disabled.
        struct sigaction current {};
        if (sigaction(e.signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&watched, e.signal);
    }
}

int startConsoleWatcher(const sigset_t& watched) {
    watchedSignals = watched;
    bool any = false;
    for (const SignalEvent& e : kSignals) any = any || sigismember(&watched, e.signal) == 1;
    if (!any) return 0;  // all ignored from the start: nothing to wait for
    pthread_attr_t detached;
    pthread_attr_init(&detached);
    pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int error = pthread_create(&thread, &detached, watch, nullptr);
    pthread_attr_destroy(&detached);
    return error;
}

}  // namespace posix

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handlerRoutine, BOOL add) {
    if (handlerRoutine == nullptr || !add) return FALSE;
    pthread_mutex_lock(&registration);
    BOOL result = TRUE;
    const int n = handlerCount.load();
    bool known = false;
    for (int i = 0; i < n; ++i) known = known || handlers[i].load() == handlerRoutine;
    if (!known) {
        if (n == kMaxHandlers) {
            result = FALSE;
        } else {
            handlers[n].store(handlerRoutine);
            handlerCount.store(n + 1);
        }
    }
    pthread_mutex_unlock(&registration);
    return result;
}
