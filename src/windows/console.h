// Console stop requests (Ctrl+C and its kin) and whether standard error is a console.
#pragma once

#include <atomic>

// From now on a console stop request sets `stop` and cancels a write of the
// calling thread that blocks on a reader who no longer reads.
void watchConsoleStops(std::atomic<bool>& stop);

// From now on standard input reaching its end (or failing to read) is such a
// stop request, taken by a thread that reads it and ignores what it reads.
void watchEndOfInput();

// GetConsoleMode succeeds only on a console; unlike the C runtime's isatty it
// is not fooled by other character devices such as NUL.
bool standardErrorIsConsole();
