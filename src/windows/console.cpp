#include "windows/console.h"

#include "output/output_stream.h"
#include "windows/windows_sdk.h"

namespace {

// Set once, before the handler is registered; the handler may run at any time after.
std::atomic<std::atomic<bool>*> stopFlag{nullptr};
std::atomic<HANDLE> writerThread{nullptr};

// Of the 5 s the system gives a handler for a closing console before it ends
// the process, the run's teardown may take this much.
// https://learn.microsoft.com/windows/console/handlerroutine
constexpr DWORD kCloseGraceMs = 4000;
constexpr DWORD kCancelEveryMs = 10;

BOOL WINAPI onConsoleControl(DWORD ctrlType) {
    switch (ctrlType) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            requestStop();
            return TRUE;
        case CTRL_CLOSE_EVENT: {
            // The process ends as soon as this returns: wait for the run to
            // stop in order. main() returning ends the process, and this wait with it.
            const ULONGLONG since = GetTickCount64();
            requestStop();
            const ULONGLONG spent = GetTickCount64() - since;
            if (spent < kCloseGraceMs) Sleep(static_cast<DWORD>(kCloseGraceMs - spent));
            return TRUE;
        }
        // Logoff and shutdown never reach a handler in a process that loads
        // user32, as this one does (GetWindowThreadProcessId): they are not
        // handled here. https://learn.microsoft.com/windows/console/setconsolectrlhandler
        default:
            return FALSE;
    }
}

}  // namespace

void requestStop() {
    std::atomic<bool>* stop = stopFlag.load();
    if (stop == nullptr) return;
    stop->store(true);
    // The flag is seen at the loop's next turn; a write blocked on a full pipe
    // would never get there. A cancel finds only a write in progress
    // (ERROR_NOT_FOUND otherwise), and one that lands between two writes, or
    // cuts one part way, misses the next: so it is repeated until the capture
    // has stopped writing.
    // https://learn.microsoft.com/windows/win32/fileio/cancelsynchronousio-func
    const HANDLE writer = writerThread.load();
    while (writer != nullptr && writesCutOnStop()) {
        CancelSynchronousIo(writer);
        Sleep(kCancelEveryMs);
    }
}

void watchConsoleStops(std::atomic<bool>& stop) {
    stopFlag.store(&stop);
    // Kept for the life of the process: the handler may use it at any time.
    if (writerThread.load() == nullptr) writerThread.store(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()));
    // Ignoring Ctrl+C is inherited: a parent that started us in a process group
    // of our own (CREATE_NEW_PROCESS_GROUP) passes it on, so it is undone first.
    // https://learn.microsoft.com/windows/console/setconsolectrlhandler
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool standardErrorIsConsole() {
    // https://learn.microsoft.com/windows/console/getconsolemode
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}
