// The wrapped calls: each consults the controls, records what the program
// asked for, and otherwise calls the POSIX layer's own (__real_) function.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <thread>

#include "fakes/audio/fake_audio.h"
#include "fakes/platform/controls.h"

using fakeaudio::record;
using fakeplatform::controls;

namespace {

std::mutex& eventsMutex() {  // events are closed on the service's threads too
    static auto* mutex = new std::mutex;
    return *mutex;
}

char ntdllImage;  // any address will do as a module handle; it is never dereferenced

LONG WINAPI fakeRtlGetVersion(OSVERSIONINFOW* info) {
    const fakeaudio::Script::Host host = fakeaudio::scriptedHost();
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) return static_cast<LONG>(0xC000000D);
    info->dwMajorVersion = host.major;
    info->dwMinorVersion = host.minor;
    info->dwBuildNumber = host.build;
    return 0;
}

}  // namespace

namespace fakeplatform {

Controls& controls() {
    static auto* c = new Controls;  // never destroyed: console threads may outlive main
    return *c;
}

void reset() {
    const std::lock_guard<std::mutex> lock(eventsMutex());
    controls() = Controls{};
}

bool raiseConsoleControl(DWORD ctrlType) {
    const PHANDLER_ROUTINE handler = controls().handler;
    BOOL handled = FALSE;
    if (handler != nullptr) std::thread([&] { handled = handler(ctrlType); }).join();
    return handled != FALSE;
}

}  // namespace fakeplatform

extern "C" {

int __real__write(int fd, const void* buffer, unsigned int count);
BOOL __real_SetConsoleCtrlHandler(PHANDLER_ROUTINE handlerRoutine, BOOL add);
HMODULE __real_GetModuleHandleW(LPCWSTR moduleName);
FARPROC __real_GetProcAddress(HMODULE module, const char* procName);
HANDLE __real_CreateEventW(void* eventAttributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL __real_CloseHandle(HANDLE object);
DWORD __real_WaitForSingleObject(HANDLE handle, DWORD milliseconds);
HRESULT __real_CoInitializeEx(void* reserved, DWORD coInit);
void __real_CoUninitialize();
HANDLE __real_AvSetMmThreadCharacteristicsW(LPCWSTR taskName, DWORD* taskIndex);
BOOL __real_AvRevertMmThreadCharacteristics(HANDLE avrtHandle);

int __wrap__write(int fd, const void* buffer, unsigned int count) {
    fakeplatform::Controls& c = controls();
    if (fd != 1 || !c.captureOutput) return __real__write(fd, buffer, count);
    ++c.writeCalls;
    const fakeaudio::Script::Host host = fakeaudio::scriptedHost();
    if (c.output.size() >= host.failAfterBytes) return -1;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, host.failAfterBytes - c.output.size()));
    if (host.maxBytesPerCall != 0) n = std::min<std::size_t>(n, host.maxBytesPerCall);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    c.output.insert(c.output.end(), bytes, bytes + n);
    return static_cast<int>(n);
}

BOOL __wrap_SetConsoleCtrlHandler(PHANDLER_ROUTINE handlerRoutine, BOOL add) {
    if (add != FALSE) controls().handler = handlerRoutine;
    return __real_SetConsoleCtrlHandler(handlerRoutine, add);
}

HMODULE __wrap_GetModuleHandleW(LPCWSTR moduleName) {
    const bool ntdll = fakeaudio::scriptedHost().major != 0 && moduleName != nullptr && std::wcscmp(moduleName, L"ntdll.dll") == 0;
    return ntdll ? reinterpret_cast<HMODULE>(&ntdllImage) : __real_GetModuleHandleW(moduleName);
}

FARPROC __wrap_GetProcAddress(HMODULE module, const char* procName) {
    if (module != reinterpret_cast<HMODULE>(&ntdllImage)) return __real_GetProcAddress(module, procName);
    if (procName == nullptr || std::strcmp(procName, "RtlGetVersion") != 0) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&fakeRtlGetVersion));
}

HANDLE __wrap_CreateEventW(void* eventAttributes, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    const std::lock_guard<std::mutex> lock(eventsMutex());
    fakeplatform::Controls& c = controls();
    const unsigned id = ++c.createEventCalls;
    if (id == fakeaudio::scriptedHost().failCreateEventAt) {
        record("CreateEventW failed");
        return nullptr;
    }
    HANDLE event = __real_CreateEventW(eventAttributes, manualReset, initialState, name);
    c.openEvents[event] = id;
    record(std::string("CreateEventW ") + (manualReset != FALSE ? "manual #" : "auto #") + std::to_string(id));
    return event;
}

BOOL __wrap_CloseHandle(HANDLE object) {
    const std::lock_guard<std::mutex> lock(eventsMutex());
    fakeplatform::Controls& c = controls();
    const auto found = c.openEvents.find(object);
    if (found != c.openEvents.end()) {
        record("CloseHandle #" + std::to_string(found->second));
        c.openEvents.erase(found);
    }
    return __real_CloseHandle(object);
}

DWORD __wrap_WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    fakeplatform::Controls& c = controls();
    const unsigned nth = ++c.waitCalls;
    if (fakeaudio::scriptedHost().failWaitAt == nth) return WAIT_FAILED;
    if (fakeaudio::scriptedHost().timeOutWaitAt == nth) return WAIT_TIMEOUT;
    if (c.onWait) c.onWait(nth, milliseconds);
    return c.lastWaitResult = __real_WaitForSingleObject(handle, milliseconds);
}

HRESULT __wrap_CoInitializeEx(void* reserved, DWORD coInit) {
    record(std::string("CoInitializeEx ") + (reserved == nullptr ? "null" : "ptr") +
           (coInit == COINIT_MULTITHREADED ? " multithreaded" : " other"));
    const HRESULT status = fakeaudio::scriptedHost().coInitializeStatus;
    if (FAILED(status)) return status;
    const HRESULT hr = __real_CoInitializeEx(reserved, coInit);
    if (SUCCEEDED(hr)) ++controls().comDepth;
    return hr;
}

void __wrap_CoUninitialize() {
    // A completion being delivered still holds the handler, and through it the
    // client: the platform's references, let go of before the journal shows COM going.
    fakeaudio::settle();
    record("CoUninitialize");
    --controls().comDepth;
    __real_CoUninitialize();
}

HANDLE __wrap_AvSetMmThreadCharacteristicsW(LPCWSTR taskName, DWORD* taskIndex) {
    const bool audio = taskName != nullptr && std::wcscmp(taskName, L"Audio") == 0;
    record(std::string("AvSetMmThreadCharacteristicsW ") + (audio ? "Audio" : "other") +
           " index=" + (taskIndex != nullptr ? std::to_string(*taskIndex) : "null"));
    return fakeaudio::scriptedHost().refuseMmcss ? nullptr : __real_AvSetMmThreadCharacteristicsW(taskName, taskIndex);
}

BOOL __wrap_AvRevertMmThreadCharacteristics(HANDLE avrtHandle) {
    record("AvRevertMmThreadCharacteristics");
    return __real_AvRevertMmThreadCharacteristics(avrtHandle);
}

}  // extern "C"
