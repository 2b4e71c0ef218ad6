// Process start-up of the POSIX layer, before main and before any thread:
// what Windows gives every console process from its first instruction.
//  - Descriptors 0, 1 and 2 are always occupied, so no socket or file opened
//    later can become standard output and receive samples.
//  - A write to a pipe whose reader has gone, or past the file-size limit,
//    fails as a write (EPIPE, EFBIG) instead of ending the process.
//  - The console signals are blocked in every thread (threads inherit the
//    mask) and taken by the console's own thread (console.cpp).
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/posix/console_signals.h"

namespace {

constexpr int kQuietSignals[] = {SIGPIPE, SIGXFSZ};
struct sigaction inheritedQuiet[2];
sigset_t consoleSignals;

// Read-only, so a closed standard output still makes every sample write fail
// (EBADF) and the run stops in order.
void occupyStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", O_RDONLY);  // the lowest free number: fd
        if (opened > fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

void ignoreQuietSignals() {
    for (int i = 0; i < 2; ++i) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(kQuietSignals[i], &ignore, &inheritedQuiet[i]);
    }
}

// A child forked by a library (libpulse can fork its daemon) starts with what
// this process inherited, not with the console's blocked signals.
void restoreInChild() {
    for (int i = 0; i < 2; ++i) sigaction(kQuietSignals[i], &inheritedQuiet[i], nullptr);
    pthread_sigmask(SIG_UNBLOCK, &consoleSignals, nullptr);
}

void say(const char* text) { (void)!write(2, text, std::strlen(text)); }

}  // namespace

// A function, not a global object: it must run before any other initialiser
// can start a thread or open a descriptor.
extern "C" __attribute__((constructor(101))) void procloop_posix_startup() {
    const int savedErrno = errno;
    occupyStandardDescriptors();
    ignoreQuietSignals();
    posix::chooseConsoleSignals(consoleSignals);
    pthread_sigmask(SIG_BLOCK, &consoleSignals, nullptr);
    pthread_atfork(nullptr, nullptr, restoreInChild);
    const int error = posix::startConsoleWatcher(consoleSignals);
    if (error != 0) {
        // Nothing would take the signals: let them act by default instead of
        // leaving Ctrl+C without effect.
        pthread_sigmask(SIG_UNBLOCK, &consoleSignals, nullptr);
        say("warn: console control events unavailable: ");
        say(std::strerror(error));
        say("\n");
    }
    errno = savedErrno;
}
