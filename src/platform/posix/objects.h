// Kernel objects of the POSIX layer besides events, and what its other pieces
// need to know of them. Internal to the POSIX layer.
#pragma once

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

}  // namespace posix
