#include "output/status_line.h"

#include <cstdio>
#include <cstring>

#include <chrono>

namespace {
std::uint64_t nowMs() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}
}  // namespace

void StatusLine::start(std::uint32_t channels, bool console) {
    active_ = console;
    if (active_) meter_.start(channels, nowMs());
    shown_ = 0;
}

void StatusLine::refresh() {
    if (!active_) return;
    const std::uint64_t now = nowMs();
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
