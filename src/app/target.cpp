#include "app/target.h"

#include <cstdio>

#include "platform/platform.h"

bool resolveTarget(const CaptureOptions& options, std::uint32_t& pid) {
    if (options.pid != 0) {
        pid = options.pid;
        return true;
    }
    // A window handle arrives as a number; the platform takes it as a pointer.
    const auto window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(options.hwnd));  // NOLINT(performance-no-int-to-ptr)
    DWORD owner = 0;
    if (GetWindowThreadProcessId(window, &owner) == 0 || owner == 0) {
        // The platform's %p differs between C runtimes; the handle is always
        // shown as 16 upper-case hex digits.
        std::fprintf(stderr, "error: could not resolve HWND %016llX to a process id\n",
                     static_cast<unsigned long long>(options.hwnd));
        return false;
    }
    pid = owner;
    return true;
}
