// Kernel objects of the POSIX layer besides events, and what its other pieces
// need to know of them. Internal to the POSIX layer.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace posix {

// The wait on one event that WaitForSingleObject and WaitForMultipleObjects share (kernel.cpp).
DWORD waitEvent(HANDLE handle, DWORD milliseconds);

// Closes a process or thread handle; false when the handle is neither.
bool closeObject(HANDLE handle);

// The pidfd behind a process handle, or -1 when the handle is no open process.
int processDescriptor(HANDLE handle);

// Counts CancelSynchronousIo calls, so that a write cut short by one can tell.
unsigned cancelCount();

// Whether COM is initialised on the calling thread (system.cpp).
bool comInitialized();

// For the calls that report failures through GetLastError.
void setLastError(DWORD error);
// CloseHandle for a process snapshot; false if the handle is none.
bool closeSnapshot(HANDLE handle);
// UTF-8 bytes to at most `capacity` - 1 wide characters and a terminator;
// a byte that starts no valid sequence becomes U+FFFD.
void utf8ToWide(const char* text, std::size_t length, WCHAR* out, std::size_t capacity);

}  // namespace posix
