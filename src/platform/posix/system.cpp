// Module lookup and the version query, COM initialisation and the multimedia
// class scheduler. The window-to-process lookup is in x11_window.cpp.
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/posix/state.h"
#include "platform/posix/trace.h"

namespace {

// Any address will do as a module handle; it is never dereferenced.
char ntdllImage;
char mmcssTask;

LONG WINAPI standinRtlGetVersion(OSVERSIONINFOW* info) {
    standin::State& s = standin::state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    ++s.rtlCalls;
    constexpr LONG kStatusInvalidParameter = static_cast<LONG>(0xC000000D);
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) return kStatusInvalidParameter;
    if (s.ntdll.status != 0) return s.ntdll.status;
    info->dwMajorVersion = s.ntdll.major;
    info->dwMinorVersion = s.ntdll.minor;
    info->dwBuildNumber = s.ntdll.build;
    info->dwPlatformId = 2;
    return 0;
}

}  // namespace

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    standin::State& s = standin::state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (moduleName == nullptr || std::wcscmp(moduleName, L"ntdll.dll") != 0 || !s.ntdll.moduleFound) return nullptr;
    return reinterpret_cast<HMODULE>(&ntdllImage);
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
    standin::State& s = standin::state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (module != reinterpret_cast<HMODULE>(&ntdllImage) || procName == nullptr ||
        std::strcmp(procName, "RtlGetVersion") != 0 || !s.ntdll.entryFound) {
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&standinRtlGetVersion));
}

HRESULT CoInitializeEx(void* reserved, DWORD coInit) {
    standin::State& s = standin::state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    standin::trace(std::string("CoInitializeEx ") + (reserved == nullptr ? "null" : "ptr") +
                   (coInit == COINIT_MULTITHREADED ? " multithreaded" : " other"));
    if (FAILED(s.coInitializeStatus)) return s.coInitializeStatus;
    s.comInitialized = true;
    return S_OK;
}

void CoUninitialize() {
    // What the program still holds of the audio engine's objects at this point
    // is what it failed to release before shutting COM down.
    if (standin::tracing() && &engine::programReferences != nullptr) {
        journal::record("CoUninitialize held=" + std::to_string(engine::programReferences()));
    }
    standin::State& s = standin::state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.comInitialized = false;
}

HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR taskName, DWORD* taskIndex) {
    standin::State& s = standin::state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    const bool audio = taskName != nullptr && std::wcscmp(taskName, L"Audio") == 0;
    standin::trace(std::string("AvSetMmThreadCharacteristicsW ") + (audio ? "Audio" : "other") +
                   " index=" + (taskIndex != nullptr ? std::to_string(*taskIndex) : "null"));
    if (s.failMmcss || !audio || taskIndex == nullptr) return nullptr;
    *taskIndex = 1;
    return &mmcssTask;
}

BOOL AvRevertMmThreadCharacteristics(HANDLE avrtHandle) {
    standin::trace("AvRevertMmThreadCharacteristics");
    return avrtHandle == &mmcssTask ? TRUE : FALSE;
}
