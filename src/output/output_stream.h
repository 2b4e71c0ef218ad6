// Standard output as the C runtime has it, descriptor 1: the samples, and the
// WAVE header's rewrite when it is a file.
#pragma once

#include <string>

#include <atomic>
#include <cstddef>

// Samples pass untranslated; standard error keeps the console's line ends.
void useBinaryOutput();
// Text for a person from now on (--help, --version, --list).
void useTextOutput();

// Writes all of bytes[0, length) to descriptor 1, continuing after partial
// writes. False when a write fails or accepts nothing; what was written stays.
// While writes are cut on a stop (below), also false once the stop is
// requested: no write begins then, and one cut part way is not continued, so
// the caller never counts a partial frame as written.
bool writeAll(const void* bytes, std::size_t length);

// From now on, until called with null, writeAll() gives up once `stop` is set:
// the capture's writes, which a stop must never leave blocked on a reader who
// stopped reading. The platform keeps cutting blocked writes short while this
// holds (writesCutOnStop()).
void cutWritesOnStop(const std::atomic<bool>* stop);
bool writesCutOnStop();

// Whether standard output's reader has gone while nothing was written: a pipe
// whose other end is closed (Linux: poll() reports POLLERR; Windows: a
// zero-byte WriteFile on the pipe fails). False for files, consoles and
// anything that cannot tell.
bool outputReaderGone();

// Makes the file at `path` (UTF-8) standard output, created or truncated, in
// binary mode. False, with the C library's reason in `why`, when it cannot be opened.
bool openOutputFile(const char* path, std::string& why);

// Whether standard output is a regular file written from its start (not a
// pipe, a device, or a file appended to).
bool outputIsFreshFile();
// The C runtime's 64-bit seek and resize of standard output; -1 / false on failure.
long long seekOutput(long long offset, int origin);
bool truncateOutput(long long size);

// Gives standard output back, so that its reader sees the end while the program goes on.
void closeOutput();
