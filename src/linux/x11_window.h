// The process that owns an X11 window.
#pragma once

#include <cstdint>

namespace linuxaudio {

// The owner of `window` on the X server DISPLAY names: the pid the server
// knows from the client's connection (X-Resource), else the window's own
// _NET_WM_PID. False when the window or its owner is not known, and also,
// its error line written, when libxcb cannot be opened.
bool x11WindowOwner(std::uint64_t window, std::uint32_t& pid);

}  // namespace linuxaudio
