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

}  // namespace standin
