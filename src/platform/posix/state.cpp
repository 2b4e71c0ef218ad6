#include "platform/posix/state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/trace.h"

namespace standin {
namespace {

void loadEnvironment(State& s) {
    // "10.0.19045": the host reports that Windows version through ntdll.
    if (const char* version = std::getenv("STANDIN_WINDOWS_VERSION")) {
        unsigned long major = 0, minor = 0, build = 0;
        if (std::sscanf(version, "%lu.%lu.%lu", &major, &minor, &build) == 3) {
            s.ntdll = NtdllConfig{true, true, 0, static_cast<DWORD>(major), static_cast<DWORD>(minor),
                                  static_cast<DWORD>(build)};
        }
    }
    // "coinit:80010106,event:2,wait:1,mmcss": kernel calls that fail, for whole-process tests.
    if (const char* faults = std::getenv("STANDIN_FAULTS")) {
        unsigned long value = 0;
        for (const char* p = faults; *p != '\0';) {
            if (std::sscanf(p, "coinit:%lx", &value) == 1) s.coInitializeStatus = static_cast<HRESULT>(value);
            if (std::sscanf(p, "event:%lu", &value) == 1) s.failCreateEventAt = static_cast<unsigned>(value);
            if (std::sscanf(p, "wait:%lu", &value) == 1) s.failWaitAt = static_cast<unsigned>(value);
            if (std::strncmp(p, "mmcss", 5) == 0) s.failMmcss = true;
            const char* comma = std::strchr(p, ',');
            if (comma == nullptr) break;
            p = comma + 1;
        }
    }
    // "hwnd:pid,hwnd:pid": windows the host knows, in decimal.
    if (const char* list = std::getenv("STANDIN_WINDOWS")) {
        unsigned long long hwnd = 0;
        unsigned long pid = 0;
        int used = 0;
        while (std::sscanf(list, "%llu:%lu%n", &hwnd, &pid, &used) == 2) {
            s.windows[hwnd] = static_cast<DWORD>(pid);
            list += used;
            if (*list != ',') break;
            ++list;
        }
    }
}

}  // namespace

State& state() {
    static State* s = [] {
        auto* created = new State;  // never destroyed: console threads may outlive main
        loadEnvironment(*created);
        return created;
    }();
    return *s;
}

void reset() {
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.ntdll = NtdllConfig{};
    s.windows.clear();
    s.writes = WriteConfig{};
    s.written = WriteStats{};
    s.writeCalls.store(0);
    for (int& mode : s.modes) mode = 0;
    s.rtlCalls = 0;
    s.windowLookups = 0;
    s.createEventCalls = 0;
    s.failCreateEventAt = 0;
    s.waitCalls = 0;
    s.failWaitAt = 0;
    s.failWaitResult = WAIT_FAILED;
    s.coInitializeStatus = S_OK;
    s.comInitialized = false;
    s.failMmcss = false;
    s.nextEventId = 1;
    if (&journal::clear != nullptr) journal::clear();
}

void setNtdll(const NtdllConfig& config) {
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().ntdll = config;
}

unsigned rtlGetVersionCalls() {
    const std::lock_guard<std::mutex> lock(state().mutex);
    return state().rtlCalls;
}

void addWindow(std::uint64_t hwnd, DWORD pid) {
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().windows[hwnd] = pid;
}

unsigned windowLookups() {
    const std::lock_guard<std::mutex> lock(state().mutex);
    return state().windowLookups;
}

void setWrites(const WriteConfig& config) {
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().writes = config;
}

WriteStats writeStats() {
    const std::lock_guard<std::mutex> lock(state().mutex);
    return state().written;
}

std::uint64_t writeCalls() { return state().writeCalls.load(); }

int streamMode(int fd) {
    const std::lock_guard<std::mutex> lock(state().mutex);
    return fd >= 0 && fd < 3 ? state().modes[fd] : 0;
}

void failCreateEvent(unsigned nth) {
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().failCreateEventAt = nth;
}

void failWait(unsigned nth, DWORD result) {
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().failWaitAt = nth;
    state().failWaitResult = result;
}

void failCoInitialize(HRESULT status) {
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().coInitializeStatus = status;
}

void failMmcss() {
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().failMmcss = true;
}

unsigned openEvents() { return state().openEvents.load(); }

unsigned waitCalls() {
    const std::lock_guard<std::mutex> lock(state().mutex);
    return state().waitCalls;
}

bool comInitialized() {
    const std::lock_guard<std::mutex> lock(state().mutex);
    return state().comInitialized;
}

}  // namespace standin
