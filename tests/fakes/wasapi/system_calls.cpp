// The program's calls to the system that the service's script speaks for
// (Script::System): when the DLL is loaded, the program's import table is
// pointed at the functions here, which record the call, fail it or time it out
// as scripted, and otherwise make it. Only what the program asks for of these
// names passes through here; the DLL's own calls and the system's do not.
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>

#include "fakes/wasapi/fake_wasapi.h"

namespace fakewasapi {
namespace {

struct Real {
    decltype(&CoInitializeEx) coInitializeEx;
    decltype(&CoUninitialize) coUninitialize;
    decltype(&CreateEventW) createEventW;
    decltype(&CloseHandle) closeHandle;
    decltype(&OpenProcess) openProcess;
    decltype(&WaitForSingleObject) waitForSingleObject;
    decltype(&WaitForMultipleObjects) waitForMultipleObjects;
    decltype(&AvSetMmThreadCharacteristicsW) avSetMmThreadCharacteristicsW;
    decltype(&AvRevertMmThreadCharacteristics) avRevertMmThreadCharacteristics;
    decltype(&GetProcAddress) getProcAddress;
    decltype(&CreateProcessW) createProcessW;
    decltype(&ResumeThread) resumeThread;
    int(__cdecl* write)(int, const void*, unsigned int);
} real;

// The handles the program made through here, by name: "#<n>" for the event of
// the nth CreateEventW, "target" for the process it opened.
struct Handles {
    std::mutex mutex;
    std::map<HANDLE, std::string> names;
    unsigned events = 0, waits = 0;
};
Handles& handles() {
    static auto* h = new Handles;  // never destroyed: the program's threads may outlive its main
    return *h;
}

std::string nameOf(HANDLE handle) {
    const std::lock_guard<std::mutex> lock(handles().mutex);
    const auto found = handles().names.find(handle);
    return found == handles().names.end() ? "" : found->second;
}

void remember(HANDLE handle, std::string name) {
    const std::lock_guard<std::mutex> lock(handles().mutex);
    handles().names[handle] = std::move(name);
}

HRESULT WINAPI coInitializeEx(LPVOID reserved, DWORD coInit) {
    record(std::string("CoInitializeEx ") + (reserved == nullptr ? "null" : "ptr") +
           (coInit == COINIT_MULTITHREADED ? " multithreaded" : " other"));
    const auto status = static_cast<HRESULT>(script().system.coInitializeStatus);
    return FAILED(status) ? status : real.coInitializeEx(reserved, coInit);
}

// What the program still holds of the service as COM goes: 0 when it let go of everything.
void WINAPI coUninitialize() {
    settle();  // a completion being delivered holds the handler, and through it the client
    record("CoUninitialize held=" + std::to_string(programHeld.load()));
    real.coUninitialize();
}

HANDLE WINAPI createEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    unsigned id = 0;
    {
        const std::lock_guard<std::mutex> lock(handles().mutex);
        id = ++handles().events;
    }
    if (id == script().system.failCreateEventAt) {
        record("CreateEventW failed");
        return nullptr;
    }
    HANDLE event = real.createEventW(attributes, manualReset, initialState, name);
    remember(event, "#" + std::to_string(id));
    record(std::string("CreateEventW ") + (manualReset != FALSE ? "manual #" : "auto #") + std::to_string(id));
    return event;
}

BOOL WINAPI closeHandle(HANDLE object) {
    {
        const std::lock_guard<std::mutex> lock(handles().mutex);
        const auto found = handles().names.find(object);
        if (found != handles().names.end()) {
            record("CloseHandle " + found->second);
            handles().names.erase(found);
        }
    }
    return real.closeHandle(object);
}

HANDLE WINAPI openProcess(DWORD access, BOOL inherit, DWORD pid) {
    HANDLE process = real.openProcess(access, inherit, pid);
    char text[80];
    std::snprintf(text, sizeof text, "OpenProcess access=0x%08lX pid=%lu%s", static_cast<unsigned long>(access),
                  static_cast<unsigned long>(pid), process == nullptr ? " failed" : "");
    record(text);
    if (process != nullptr) remember(process, "target");
    return process;
}

// The nth wait on a handle the program made here, as scripted; 0 for any other wait.
unsigned countWait(HANDLE handle) {
    if (nameOf(handle).empty()) return 0;
    const std::lock_guard<std::mutex> lock(handles().mutex);
    return ++handles().waits;
}

DWORD scriptedWait(unsigned nth) {
    if (nth != 0 && nth == script().system.failWaitAt) return WAIT_FAILED;
    if (nth != 0 && nth == script().system.timeOutWaitAt) return WAIT_TIMEOUT;
    return WAIT_IO_COMPLETION;  // not scripted
}

DWORD WINAPI waitForSingleObject(HANDLE handle, DWORD ms) {
    const unsigned nth = countWait(handle);
    if (nth != 0) record("WaitForSingleObject " + nameOf(handle) + " " + std::to_string(ms));
    const DWORD scripted = scriptedWait(nth);
    return scripted != WAIT_IO_COMPLETION ? scripted : real.waitForSingleObject(handle, ms);
}

DWORD WINAPI waitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD ms) {
    const unsigned nth = count == 0 ? 0 : countWait(handles[0]);
    if (nth != 0) {
        std::string entry = "WaitForMultipleObjects";
        for (DWORD i = 0; i < count; ++i) entry += " " + nameOf(handles[i]);
        record(entry + (all != FALSE ? " all " : " any ") + std::to_string(ms));
    }
    const DWORD scripted = scriptedWait(nth);
    return scripted != WAIT_IO_COMPLETION ? scripted : real.waitForMultipleObjects(count, handles, all, ms);
}

HANDLE WINAPI avSetMmThreadCharacteristicsW(LPCWSTR task, LPDWORD index) {
    const bool audio = task != nullptr && std::wcscmp(task, L"Audio") == 0;
    record(std::string("AvSetMmThreadCharacteristicsW ") + (audio ? "Audio" : "other") +
           " index=" + (index != nullptr ? std::to_string(*index) : "null"));
    if (script().system.refuseMmcss) return nullptr;
    return real.avSetMmThreadCharacteristicsW(task, index);
}

BOOL WINAPI avRevertMmThreadCharacteristics(HANDLE handle) {
    record("AvRevertMmThreadCharacteristics");
    return real.avRevertMmThreadCharacteristics(handle);
}

LONG WINAPI scriptedRtlGetVersion(OSVERSIONINFOW* info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) return static_cast<LONG>(0xC000000D);
    info->dwMajorVersion = script().system.major;
    info->dwMinorVersion = script().system.minor;
    info->dwBuildNumber = script().system.build;
    return 0;
}

// With a scripted version, RtlGetVersion reports it.
FARPROC WINAPI getProcAddress(HMODULE module, LPCSTR name) {
    const bool byName = reinterpret_cast<std::uintptr_t>(name) > 0xFFFF;
    if (script().system.major != 0 && byName && std::strcmp(name, "RtlGetVersion") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&scriptedRtlGetVersion));
    }
    return real.getProcAddress(module, name);
}

// A command held at its start, and when it is let go, in order with the capture's calls.
BOOL WINAPI createProcessW(LPCWSTR app, LPWSTR line, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta, BOOL inherit,
                           DWORD flags, LPVOID env, LPCWSTR dir, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
    const BOOL created = real.createProcessW(app, line, pa, ta, inherit, flags, env, dir, startup, info);
    const DWORD error = GetLastError();  // the journal's own file calls would change it
    record(std::string("CreateProcessW") + ((flags & CREATE_SUSPENDED) != 0 ? " suspended" : "") + (created ? "" : " failed"));
    SetLastError(error);
    return created;
}

DWORD WINAPI resumeThread(HANDLE thread) {
    record("ResumeThread");
    return real.resumeThread(thread);
}

// Standard output's writes, so the journal shows what the program held while it wrote.
int __cdecl write(int fd, const void* buffer, unsigned int count) {
    if (fd == 1) record("_write " + std::to_string(count));
    return real.write(fd, buffer, count);
}

struct Hook {
    const char* name;
    void* replacement;
    void** original;
};

template <typename F>
Hook hook(const char* name, F replacement, F& original) {
    return {name, reinterpret_cast<void*>(replacement), reinterpret_cast<void**>(&original)};
}

}  // namespace

// The executable's import address table, entry by entry: each import by a name
// above now calls the function here, which calls the one it replaced.
void hookSystemCalls() {
    const Hook hooks[] = {
        hook("CoInitializeEx", &coInitializeEx, real.coInitializeEx),
        hook("CoUninitialize", &coUninitialize, real.coUninitialize),
        hook("CreateEventW", &createEventW, real.createEventW),
        hook("CloseHandle", &closeHandle, real.closeHandle),
        hook("OpenProcess", &openProcess, real.openProcess),
        hook("WaitForSingleObject", &waitForSingleObject, real.waitForSingleObject),
        hook("WaitForMultipleObjects", &waitForMultipleObjects, real.waitForMultipleObjects),
        hook("AvSetMmThreadCharacteristicsW", &avSetMmThreadCharacteristicsW, real.avSetMmThreadCharacteristicsW),
        hook("AvRevertMmThreadCharacteristics", &avRevertMmThreadCharacteristics, real.avRevertMmThreadCharacteristics),
        hook("GetProcAddress", &getProcAddress, real.getProcAddress),
        hook("_write", &write, real.write),
        hook("CreateProcessW", &createProcessW, real.createProcessW),
        hook("ResumeThread", &resumeThread, real.resumeThread),
    };
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            for (const Hook& h : hooks) {
                if (std::strcmp(name, h.name) != 0) continue;
                *h.original = reinterpret_cast<void*>(slots->u1.Function);
                DWORD was = 0;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &was);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(h.replacement);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, was, &was);
            }
        }
    }
}

}  // namespace fakewasapi

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) fakewasapi::hookSystemCalls();
    return TRUE;
}
