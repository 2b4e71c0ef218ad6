#include "windows/console.h"

#include "windows/windows_sdk.h"

namespace {

// Set once, before the handler is registered; the handler may run at any time after.
std::atomic<std::atomic<bool>*> stopFlag{nullptr};
std::atomic<HANDLE> writerThread{nullptr};

BOOL WINAPI onConsoleControl(DWORD ctrlType) {
    switch (ctrlType) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        // For close, logoff and shutdown the platform ends the process once this
        // returns, so waiting here for the teardown would only delay that.
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (std::atomic<bool>* stop = stopFlag.load()) stop->store(true);
            // The flag is seen at the loop's next turn; a write blocked on a
            // full pipe would never get there.
            // https://learn.microsoft.com/windows/win32/fileio/cancelsynchronousio-func
            if (HANDLE writer = writerThread.load()) CancelSynchronousIo(writer);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void watchConsoleStops(std::atomic<bool>& stop) {
    stopFlag.store(&stop);
    // Kept for the life of the process: the handler may use it at any time.
    if (writerThread.load() == nullptr) writerThread.store(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()));
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool standardErrorIsConsole() {
    // https://learn.microsoft.com/windows/console/getconsolemode
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}
