#pragma once

#include <cstdint>

// The process behind a window: its owner, except that a packaged app's frame
// (owned by ApplicationFrameHost.exe, whose tree does not hold the app) gives
// the owner of the app's own window inside it. False when the window has no owner.
bool windowProcess(std::uint64_t window, std::uint32_t& pid);
