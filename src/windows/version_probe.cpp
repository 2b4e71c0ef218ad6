#include "windows/version_probe.h"

#include <cstdio>

#include "windows/windows_sdk.h"

namespace {
constexpr DWORD kFirstLoopbackBuild = 20348;
}

void probeWindowsVersion() {
    // GetVersionEx lies to programs without a compatibility manifest; the
    // kernel's RtlGetVersion does not. ntdll is always loaded, so no LoadLibrary.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return;
    const FARPROC proc = GetProcAddress(ntdll, "RtlGetVersion");
    if (proc == nullptr) return;
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(proc));

    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtlGetVersion(&info) != 0) return;
    std::fprintf(stderr, "info: windows version %lu.%lu build %lu\n", static_cast<unsigned long>(info.dwMajorVersion),
                 static_cast<unsigned long>(info.dwMinorVersion), static_cast<unsigned long>(info.dwBuildNumber));
    if (info.dwBuildNumber < kFirstLoopbackBuild) {
        std::fprintf(stderr, "warn: process loopback capture requires Windows build 20348 or later\n");
    }
}
