// Test-only X client: maps one window on $DISPLAY, prints its id in decimal,
// and keeps it until killed. The argument sets the window's _NET_WM_PID:
// "own" (this process's pid, as toolkits set it), "none", or a number (a
// client that lies about its pid).
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "own";
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "x11_window: cannot connect to the X server\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 64, 64, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    if (std::strcmp(mode, "none") != 0) {
        const std::uint32_t pid =
            std::strcmp(mode, "own") == 0 ? static_cast<std::uint32_t>(getpid()) : std::strtoul(mode, nullptr, 10);
        static const char kName[] = "_NET_WM_PID";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName), nullptr);
        if (atom == nullptr) return 1;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
        std::free(atom);
    }
    xcb_map_window(connection, window);
    // A round trip, so the window exists on the server before anyone hears of it.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    std::printf("%u\n", static_cast<unsigned>(window));
    std::fflush(stdout);
    for (;;) pause();
}
