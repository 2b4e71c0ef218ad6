// Test controls of the stand-in platform: what the host looks like to the
// program (ntdll, windows, the console) and which kernel calls fail.
// Defaults describe a host that is not Windows: no ntdll, no windows.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace standin {

// Back to defaults: no ntdll, no windows, no faults, all counters zero.
// Kernel objects still open stay valid.
void reset();

struct NtdllConfig {
    bool moduleFound = false;
    bool entryFound = false;
    LONG status = 0;  // what RtlGetVersion returns
    DWORD major = 10;
    DWORD minor = 0;
    DWORD build = 20348;
};
void setNtdll(const NtdllConfig& config);
unsigned rtlGetVersionCalls();

// A window the window-to-process lookup knows; pid 0 is a window whose owner
// cannot be told.
void addWindow(std::uint64_t hwnd, DWORD pid);
unsigned windowLookups();

// Standard output: each _write(1) takes at most maxBytesPerCall bytes (0: no
// limit); once failAfterBytes bytes have gone, writes fail as a closed pipe does.
struct WriteConfig {
    unsigned maxBytesPerCall = 0;
    std::uint64_t failAfterBytes = UINT64_MAX;
};
void setWrites(const WriteConfig& config);
struct WriteStats {
    std::uint64_t calls = 0;
    std::uint64_t bytes = 0;
};
WriteStats writeStats();
std::uint64_t writeCalls();  // lock-free, for counters that must not take locks
int streamMode(int fd);  // last mode set with _setmode, 0 if none

// The nth call (1-based, counted from reset) of each fails.
void failCreateEvent(unsigned nth);
void failWait(unsigned nth, DWORD result);
void failCoInitialize(HRESULT status);
void failMmcss();  // AvSetMmThreadCharacteristicsW returns null

unsigned openEvents();
unsigned waitCalls();
bool comInitialized();

}  // namespace standin
