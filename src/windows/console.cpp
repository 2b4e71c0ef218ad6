#include "windows/console.h"

#include <cstdio>

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

// Reads standard input to its end (a pipe whose writer closed it reports
// ERROR_BROKEN_PIPE; a console, Ctrl+Z at the start of a line as 0 bytes),
// ignoring what it reads, then stops the run.
// https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-readfile
DWORD WINAPI readToEnd(LPVOID /*unused*/) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const bool console = input != nullptr && input != INVALID_HANDLE_VALUE && GetFileType(input) == FILE_TYPE_CHAR;
    char ignored[512];
    DWORD got = 0;
    // No standard input at all has ended already.
    while (input != nullptr && input != INVALID_HANDLE_VALUE && ReadFile(input, ignored, sizeof ignored, &got, nullptr) &&
           got > 0 && !(console && ignored[0] == '\x1a')) {
    }
    requestStop();
    return 0;
}

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

void watchEndOfInput() {
    static std::atomic<bool> watching{false};
    if (stopFlag.load() == nullptr || watching.exchange(true)) return;
    const HANDLE reader = CreateThread(nullptr, 0, readToEnd, nullptr, 0, nullptr);
    if (reader == nullptr) {
        std::fprintf(stderr, "warn: standard input unwatched: CreateThread hr=0x%08X\n",
                     static_cast<unsigned>(HRESULT_FROM_WIN32(GetLastError())));
        return;
    }
    CloseHandle(reader);  // it runs until the input ends or the process does
}

bool standardErrorIsConsole() {
    // https://learn.microsoft.com/windows/console/getconsolemode
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}
