// A window's owner is the X client that created it. The X server knows that
// client's pid when it connected locally (X-Resource extension,
// QueryClientIds); _NET_WM_PID, set by the client itself, is the fallback.
// https://www.x.org/releases/current/doc/resourceproto/resproto.txt
// (_NET_WM_PID: Extended Window Manager Hints, application window properties)
#include "linux/x11_window.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "linux/xcb_symbols.h"

namespace linuxaudio {

namespace {

// The window must exist: X-Resource answers for any id in a client's range.
bool windowExists(xcb_connection_t* connection, xcb_window_t window) {
    xcb_generic_error_t* error = nullptr;
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), &error);
    std::free(error);
    const bool exists = reply != nullptr;
    std::free(reply);
    return exists;
}

std::uint32_t pidFromServer(xcb_connection_t* connection, xcb_window_t window) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, xcb_res_id);
    if (extension == nullptr || extension->present == 0) return 0;
    xcb_res_client_id_spec_t asked{};
    asked.client = window;
    asked.mask = XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID;
    xcb_generic_error_t* error = nullptr;
    xcb_res_query_client_ids_reply_t* reply =
        xcb_res_query_client_ids_reply(connection, xcb_res_query_client_ids(connection, 1, &asked), &error);
    std::free(error);
    if (reply == nullptr) return 0;
    std::uint32_t pid = 0;
    for (xcb_res_client_id_value_iterator_t it = xcb_res_query_client_ids_ids_iterator(reply); it.rem > 0;
         xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(it.data) == 1) {
            pid = *xcb_res_client_id_value_value(it.data);
        }
    }
    std::free(reply);
    return pid;
}

std::uint32_t pidFromProperty(xcb_connection_t* connection, xcb_window_t window) {
    static const char kName[] = "_NET_WM_PID";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof kName - 1, kName), nullptr);
    if (atom == nullptr) return 0;
    const xcb_atom_t name = atom->atom;
    std::free(atom);
    if (name == XCB_ATOM_NONE) return 0;  // no client ever named it, so no window has it
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, name, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    if (property == nullptr) return 0;
    std::uint32_t pid = 0;
    if (property->format == 32 && xcb_get_property_value_length(property) == 4) {
        std::memcpy(&pid, xcb_get_property_value(property), sizeof pid);
    }
    std::free(property);
    return pid;
}

}  // namespace

bool x11WindowOwner(std::uint64_t window, std::uint32_t& pid) {
    if (window == 0 || window > UINT32_MAX) return false;  // X11 ids are 29-bit
    std::string why;
    if (!loadXcb(why)) {
        std::fprintf(stderr, "error: cannot load %s\n", why.c_str());
        return false;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);  // DISPLAY names the server
    std::uint32_t owner = 0;
    if (xcb_connection_has_error(connection) == 0 && windowExists(connection, static_cast<xcb_window_t>(window))) {
        owner = pidFromServer(connection, static_cast<xcb_window_t>(window));
        if (owner == 0) owner = pidFromProperty(connection, static_cast<xcb_window_t>(window));
    }
    xcb_disconnect(connection);
    if (owner == 0) return false;
    pid = owner;
    return true;
}

}  // namespace linuxaudio
