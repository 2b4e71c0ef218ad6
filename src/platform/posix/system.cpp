// Module lookup, COM initialisation and the multimedia class scheduler, as far
// as a host that is not Windows has them. The window-to-process lookup is in
// x11_window.cpp.
#include <cwchar>

#include "platform/platform.h"
#include "platform/posix/objects.h"

namespace {

// How often COM was initialised on this thread, and in which model.
thread_local unsigned comInitCount = 0;
thread_local DWORD comModel = 0;
char mmcssTask;  // any address will do as the scheduler's handle

}  // namespace

// No Windows module is loaded here, ntdll included; the version probe then says nothing.
HMODULE GetModuleHandleW(LPCWSTR /*moduleName*/) { return nullptr; }

FARPROC GetProcAddress(HMODULE /*module*/, const char* /*procName*/) { return nullptr; }

// Per thread, as COM's own: the first call initialises, a repeat in the same
// model reports S_FALSE and must be balanced too, another model is refused.
HRESULT CoInitializeEx(void* /*reserved*/, DWORD coInit) {
    if (comInitCount > 0 && comModel != coInit) return RPC_E_CHANGED_MODE;
    comModel = coInit;
    return comInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (comInitCount > 0) --comInitCount;
}

bool posix::comInitialized() { return comInitCount > 0; }

HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR taskName, DWORD* taskIndex) {
    if (taskName == nullptr || taskIndex == nullptr || std::wcscmp(taskName, L"Audio") != 0) return nullptr;
    *taskIndex = 1;
    return &mmcssTask;
}

BOOL AvRevertMmThreadCharacteristics(HANDLE avrtHandle) { return avrtHandle == &mmcssTask ? TRUE : FALSE; }
