// Standard output as the C runtime has it, descriptor 1: the samples, and the
// WAVE header's rewrite when it is a file.
#pragma once

#include <cstddef>

// Samples pass untranslated; standard error keeps the console's line ends.
void useBinaryOutput();
// Text for a person from now on (--help, --version, --list).
void useTextOutput();

// Writes all of bytes[0, length) to descriptor 1, continuing after partial
// writes. False when a write fails or accepts nothing; what was written stays.
bool writeAll(const void* bytes, std::size_t length);

// Whether standard output is a regular file written from its start (not a
// pipe, a device, or a file appended to).
bool outputIsFreshFile();
// The C runtime's 64-bit seek and resize of standard output; -1 / false on failure.
long long seekOutput(long long offset, int origin);
bool truncateOutput(long long size);

// Gives standard output back, so that its reader sees the end while the program goes on.
void closeOutput();
