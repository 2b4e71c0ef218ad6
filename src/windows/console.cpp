#include "windows/console.h"

#include <cstdio>

#include "windows/windows_sdk.h"

namespace {

// Set once, before the handler is registered; the handler may run at any time after.
std::atomic<std::atomic<bool>*> stopFlag{nullptr};
std::atomic<HANDLE> writerThread{nullptr};

// Every stop request, whatever made it, goes this way.
void requestStop() {
    if (std::atomic<bool>* stop = stopFlag.load()) stop->store(true);
    // The flag is seen at the loop's next turn; a write blocked on a
    // full pipe would never get there.
    // https://learn.microsoft.com/windows/win32/fileio/cancelsynchronousio-func
    if (HANDLE writer = writerThread.load()) CancelSynchronousIo(writer);
}

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
        // For close, logoff and shutdown the platform ends the process once this
        // returns, so waiting here for the teardown would only delay that.
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            requestStop();
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
