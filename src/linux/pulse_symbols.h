// libpulse, opened on first use (loadPulse) instead of linked: the loader
// would otherwise map it and the two dozen libraries it brings before main.
// The pointers carry libpulse's own names and types in namespace linuxaudio,
// so code there reads as libpulse code and reaches libpulse only through them.
#pragma once

#include <pulse/context.h>
#include <pulse/def.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/sample.h>
#include <pulse/channelmap.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>

#include <string>

#define PROCLOOP_PULSE_FUNCTIONS(X)                                                                             \
    X(pa_channel_map_init) X(pa_context_connect) X(pa_context_disconnect) X(pa_context_errno)                   \
    X(pa_context_get_client_info) X(pa_context_get_client_info_list) X(pa_context_get_index)                    \
    X(pa_context_get_server_info) X(pa_context_get_sink_info_by_index) X(pa_context_get_sink_info_list)         \
    X(pa_context_get_sink_input_info) X(pa_context_get_sink_input_info_list) X(pa_context_get_state)            \
    X(pa_context_new) X(pa_context_set_state_callback) X(pa_context_set_subscribe_callback)                     \
    X(pa_context_subscribe) X(pa_context_unref) X(pa_frame_size) X(pa_mainloop_dispatch) X(pa_mainloop_free)    \
    X(pa_mainloop_get_api) X(pa_mainloop_iterate) X(pa_mainloop_new) X(pa_mainloop_poll) X(pa_mainloop_prepare) \
    X(pa_operation_get_state) X(pa_operation_unref) X(pa_proplist_gets) X(pa_rtclock_now) X(pa_stream_connect_record) \
    X(pa_stream_disconnect) X(pa_stream_drop) X(pa_stream_get_context) X(pa_stream_get_state) X(pa_stream_new)  \
    X(pa_stream_peek) X(pa_stream_set_monitor_stream) X(pa_stream_set_read_callback)                            \
    X(pa_stream_set_state_callback) X(pa_stream_unref) X(pa_strerror) X(pa_usec_to_bytes)

namespace linuxaudio {

#define PROCLOOP_DECLARE(name) extern decltype(&::name) name;
PROCLOOP_PULSE_FUNCTIONS(PROCLOOP_DECLARE)
#undef PROCLOOP_DECLARE

// Opens libpulse.so.0 and points every name above into it; false, with
// "libpulse.so.0: <the loader's reason>" in `why`, when it cannot.
bool loadPulse(std::string& why);

}  // namespace linuxaudio
