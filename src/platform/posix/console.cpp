// Console control events from POSIX signals. The console calls handlers on a
// thread of its own for each event, never in an interrupted context; here a
// signal only writes its number to a pipe, and a watcher thread delivers it.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>

#include "platform/posix/state.h"

namespace {

constexpr int kMaxHandlers = 8;
std::atomic<PHANDLER_ROUTINE> handlers[kMaxHandlers];
std::atomic<int> handlerCount{0};
int signalPipe[2] = {-1, -1};

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

void onSignal(int sig) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    (void)!::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool callHandlers(DWORD ctrlType) {
    for (int i = handlerCount.load() - 1; i >= 0; --i) {
        const PHANDLER_ROUTINE handler = handlers[i].load();
        if (handler != nullptr && handler(ctrlType)) return true;
    }
    return false;
}

// What the console does with one event: run the handlers; end the process when
// none takes Ctrl+C or Ctrl+Break, and always after close, logoff and shutdown.
void deliver(int sig, DWORD ctrlType) {
    const bool handled = callHandlers(ctrlType);
    const bool endsProcess = ctrlType == CTRL_CLOSE_EVENT || ctrlType == CTRL_LOGOFF_EVENT ||
                             ctrlType == CTRL_SHUTDOWN_EVENT || !handled;
    if (endsProcess) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
}

void watch() {
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(signalPipe[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) return;
        for (const SignalEvent& e : kSignals) {
            if (e.signal == byte) std::thread(deliver, e.signal, e.ctrlType).detach();
        }
    }
}

void installSignals() {
    if (::pipe(signalPipe) != 0) return;
    ::fcntl(signalPipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(signalPipe[1], F_SETFD, FD_CLOEXEC);
    std::thread(watch).detach();
    for (const SignalEvent& e : kSignals) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(e.signal, &action, nullptr);
    }
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handlerRoutine, BOOL add) {
    if (handlerRoutine == nullptr || !add) return FALSE;
    static std::once_flag installed;
    std::call_once(installed, installSignals);
    static std::mutex registration;
    const std::lock_guard<std::mutex> lock(registration);
    const int n = handlerCount.load();
    for (int i = 0; i < n; ++i) {
        if (handlers[i].load() == handlerRoutine) return TRUE;
    }
    if (n == kMaxHandlers) return FALSE;
    handlers[n].store(handlerRoutine);
    handlerCount.store(n + 1);
    return TRUE;
}

namespace standin {

bool raiseConsoleControl(DWORD ctrlType) {
    bool handled = false;
    std::thread([&] { handled = callHandlers(ctrlType); }).join();
    return handled;
}

}  // namespace standin
