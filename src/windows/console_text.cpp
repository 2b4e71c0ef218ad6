#include "windows/console_text.h"

#include <string>

#include "windows/windows_sdk.h"

void writeConsoleText(std::FILE* stream, const char* text) {
    // https://learn.microsoft.com/windows/console/writeconsole
    const HANDLE console = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (units <= 1 || GetConsoleMode(console, &mode) == FALSE) {
        // The C runtime may hold text for a pipe or a file until it exits; a
        // program reading our lines waits for each as it happens.
        std::fputs(text, stream);
        std::fflush(stream);
        return;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], units);
    std::fflush(stream);  // what the C runtime holds goes first
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(units - 1), &written, nullptr);
}
