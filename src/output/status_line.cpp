#include "output/status_line.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

void StatusLine::start(std::uint32_t channels) {
    // GetConsoleMode succeeds only on a console; unlike the C runtime's isatty
    // it is not fooled by other character devices such as NUL.
    // https://learn.microsoft.com/windows/console/getconsolemode
    DWORD mode = 0;
    active_ = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
    if (active_) meter_.start(channels, GetTickCount64());
    shown_ = 0;
}

void StatusLine::refresh() {
    if (!active_) return;
    const ULONGLONG now = GetTickCount64();
    if (!meter_.due(now)) return;
    char text[LevelMeter::kLineBytes + 1];
    text[0] = '\r';
    char line[LevelMeter::kLineBytes];
    const std::size_t length = meter_.line(line, now);
    std::memcpy(text + 1, line, length);
    std::size_t total = 1 + length;
    // A shorter line than the one before leaves its end to be blanked.
    while (total < 1 + shown_ && total < sizeof text) text[total++] = ' ';
    std::fwrite(text, 1, total, stderr);
    shown_ = length;
}

void StatusLine::erase() {
    if (!active_ || shown_ == 0) return;
    // Two more columns for the "^C" a terminal echoes after the line.
    const std::size_t blanks = shown_ + 2;
    char text[LevelMeter::kLineBytes + 4];
    std::memset(text, ' ', sizeof text);
    text[0] = '\r';
    text[blanks + 1] = '\r';
    std::fwrite(text, 1, blanks + 2, stderr);
    shown_ = 0;
}
