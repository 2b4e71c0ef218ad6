// Console stop requests from POSIX signals, and what a Linux process needs
// before it writes samples anywhere.
#pragma once

#include <atomic>

namespace linuxaudio {

// Descriptors 0, 1 and 2 are occupied (by /dev/null, read-only, when closed),
// so no socket or file opened later becomes standard output; a write to a pipe
// whose reader has gone, or past the file-size limit, fails (EPIPE, EFBIG)
// instead of ending the process.
void prepareStandardDescriptors();

// From now on SIGINT (Ctrl+C), SIGQUIT (Ctrl+Break), SIGHUP (the terminal
// went away) and SIGTERM set `stop`, wake a waiting capture (wakeDescriptor)
// and interrupt the calling thread's blocking calls, every 10 ms while the
// stop stands (a write on a stalled reader fails with EINTR); after SIGHUP and
// SIGTERM the process then ends by the signal. A signal ignored at start stays ignored. The signals are taken
// by a thread of their own with sigwait, so nothing runs in a signal handler
// and a storm of them, or a full descriptor table, cannot keep one out.
// Call before any other thread starts; later calls change nothing.
void watchConsoleSignals(std::atomic<bool>& stop);

// In a child about to exec another program: the signal mask and the
// dispositions of SIGPIPE and SIGXFSZ as this process found them. Safe after fork.
void restoreSignalsForCommand();

// From now on standard input reaching its end (or an error reading it) is a
// stop request like the signals above, made by a thread that reads it and
// ignores what it reads. After watchConsoleSignals; later calls change nothing.
void watchEndOfInput();

// Readable after a stop request, made on first use by the thread that waits;
// -1 when none could be made (the request still interrupts that thread's poll).
int wakeDescriptor();
// Empties it.
void drainWake();

}  // namespace linuxaudio
