// Shared state of the stand-in platform's pieces. Internal to the stand-in.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/posix/control.h"

namespace standin {

struct State {
    std::mutex mutex;
    NtdllConfig ntdll;
    std::map<std::uint64_t, DWORD> windows;
    WriteConfig writes;
    WriteStats written;
    int modes[3] = {0, 0, 0};
    unsigned rtlCalls = 0;
    unsigned windowLookups = 0;
    unsigned createEventCalls = 0;
    unsigned failCreateEventAt = 0;
    unsigned waitCalls = 0;
    unsigned failWaitAt = 0;
    DWORD failWaitResult = WAIT_FAILED;
    HRESULT coInitializeStatus = S_OK;
    bool comInitialized = false;
    bool failMmcss = false;
    unsigned nextEventId = 1;
    std::atomic<unsigned> openEvents{0};
    std::atomic<std::uint64_t> writeCalls{0};
};

// Created on first use, with the settings a test harness may pass to a whole
// process in the environment (STANDIN_WINDOWS_VERSION, STANDIN_WINDOWS).
State& state();

// For the calls that report failures through GetLastError.
void setLastError(DWORD error);
// CloseHandle for a process snapshot; false if the handle is none.
bool closeSnapshot(HANDLE handle);
// UTF-8 bytes to at most `capacity` - 1 wide characters and a terminator;
// a byte that starts no valid sequence becomes U+FFFD.
void utf8ToWide(const char* text, std::size_t length, WCHAR* out, std::size_t capacity);

}  // namespace standin
