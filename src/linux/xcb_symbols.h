// libxcb and libxcb-res, opened on first use (loadXcb) instead of linked, for
// the same reason as libpulse (pulse_symbols.h), and only --hwnd needs them.
#pragma once

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <string>

#define PROCLOOP_XCB_FUNCTIONS(X)                                                                               \
    X(xcb_connect) X(xcb_connection_has_error) X(xcb_disconnect) X(xcb_get_extension_data)                      \
    X(xcb_get_property) X(xcb_get_property_reply) X(xcb_get_property_value) X(xcb_get_property_value_length)    \
    X(xcb_get_window_attributes) X(xcb_get_window_attributes_reply) X(xcb_intern_atom) X(xcb_intern_atom_reply)

#define PROCLOOP_XCB_RES_FUNCTIONS(X)                                                                           \
    X(xcb_res_client_id_value_next) X(xcb_res_client_id_value_value) X(xcb_res_client_id_value_value_length)    \
    X(xcb_res_query_client_ids) X(xcb_res_query_client_ids_ids_iterator) X(xcb_res_query_client_ids_reply)

namespace linuxaudio {

#define PROCLOOP_DECLARE(name) extern decltype(&::name) name;
PROCLOOP_XCB_FUNCTIONS(PROCLOOP_DECLARE)
PROCLOOP_XCB_RES_FUNCTIONS(PROCLOOP_DECLARE)
#undef PROCLOOP_DECLARE
// The extension's id is an object of libxcb-res: here its address.
extern xcb_extension_t* xcb_res_id;

// Opens libxcb.so.1 and libxcb-res.so.0 and points every name above into
// them; false, with "<library>: <the loader's reason>" in `why`, when it cannot.
bool loadXcb(std::string& why);

}  // namespace linuxaudio
