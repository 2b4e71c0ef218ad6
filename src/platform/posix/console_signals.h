// The POSIX signals that stand for console control events, shared between the
// process start-up and the console. Internal to the POSIX layer.
#pragma once

#include <csignal>

namespace posix {

// Of SIGINT (Ctrl+C), SIGQUIT (Ctrl+Break), SIGHUP (close) and SIGTERM
// (shutdown), those not ignored at process start: the ones the console takes.
// Fills `watched` once, on the start-up thread; read-only afterwards.
void chooseConsoleSignals(sigset_t& watched);

// Starts the thread that waits for the watched signals and delivers them as
// console control events. Returns 0, or the error that stopped it.
int startConsoleWatcher(const sigset_t& watched);

}  // namespace posix
