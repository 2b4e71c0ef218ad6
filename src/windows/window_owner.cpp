#include "windows/window_owner.h"

#include <cstdio>
#include <cwchar>

#include "windows/unique_handle.h"
#include "windows/windows_sdk.h"

namespace {

bool isFrameHost(DWORD pid) {
    const KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return false;
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process.get(), 0, path, &length) == FALSE) return false;
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    const wchar_t* name = slash != nullptr ? slash + 1 : path;
    return CompareStringOrdinal(name, -1, L"ApplicationFrameHost.exe", -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool windowProcess(std::uint64_t window, std::uint32_t& pid) {
    // A window handle arrives as a number; the platform takes it as a pointer.
    const auto handle = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));  // NOLINT(performance-no-int-to-ptr)
    DWORD owner = 0;
    if (GetWindowThreadProcessId(handle, &owner) == 0 || owner == 0) return false;
    if (isFrameHost(owner)) {
        // The app draws into a Windows.UI.Core.CoreWindow child of the frame,
        // owned by the app's own process.
        // https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-findwindowexw
        const HWND app = FindWindowExW(handle, nullptr, L"Windows.UI.Core.CoreWindow", nullptr);
        DWORD appOwner = 0;
        if (app != nullptr && GetWindowThreadProcessId(app, &appOwner) != 0 && appOwner != 0) {
            owner = appOwner;
        } else {
            std::fprintf(stderr, "warn: the window is an app frame (ApplicationFrameHost.exe) with no app window inside; "
                                 "capturing the frame host\n");
        }
    }
    pid = owner;
    return true;
}
