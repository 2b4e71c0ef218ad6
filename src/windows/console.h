// Console stop requests (Ctrl+C and its kin) and whether standard error is a console.
#pragma once

#include <atomic>

// From now on a console stop request sets `stop` and cancels a write of the
// calling thread that blocks on a reader who no longer reads.
void watchConsoleStops(std::atomic<bool>& stop);

// From now on standard input reaching its end (or failing to read) is such a
// stop request, taken by a thread that reads it and ignores what it reads.
void watchEndOfInput();

// Every stop request, whatever its source, goes through here: sets the flag
// and, while the capture's writes are cut on a stop, cancels the writing
// thread's blocked write every 10 ms until the capture has stopped writing.
// Returns once it has (at once when no capture is writing).
void requestStop();

// GetConsoleMode succeeds only on a console; unlike the C runtime's isatty it
// is not fooled by other character devices such as NUL.
bool standardErrorIsConsole();
