#include "linux/pulse_connection.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "linux/pulse_symbols.h"

namespace linuxaudio {

std::unique_ptr<PulseConnection> PulseConnection::open() {
    std::string why;
    if (!loadPulse(why)) {
        std::fprintf(stderr, "error: cannot load %s\n", why.c_str());
        return nullptr;
    }
    std::unique_ptr<PulseConnection> c(new PulseConnection);
    c->loop_ = pa_mainloop_new();
    if (c->loop_ == nullptr) {
        std::fprintf(stderr, "error: cannot start the audio main loop: %s\n", std::strerror(errno));
        return nullptr;
    }
    c->context_ = pa_context_new(pa_mainloop_get_api(c->loop_), "procloop");
    if (c->context_ == nullptr) {
        std::fprintf(stderr, "error: cannot create an audio server context\n");
        return nullptr;
    }
    if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(c->context_);
            if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) break;
            if (pa_mainloop_iterate(c->loop_, 1, nullptr) < 0) break;
        }
    }
    if (pa_context_get_state(c->context_) != PA_CONTEXT_READY) {
        c->sayFailure("error: cannot connect to the audio server");
        return nullptr;
    }
    pa_context_set_state_callback(c->context_, onState, c.get());
    return c;
}

void PulseConnection::onState(pa_context* context, void* self) {
    auto* c = static_cast<PulseConnection*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) && c->lostError_ == 0) {
        c->lostError_ = pa_context_errno(context);
    }
}

PulseConnection::~PulseConnection() {
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_ != nullptr) pa_mainloop_free(loop_);
}

bool PulseConnection::await(pa_operation* operation) {
    if (operation == nullptr) return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && good()) {
        if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) break;
    }
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done && good();
}

namespace {

void serverInfo(pa_context* /*context*/, const pa_server_info* info, void* said) {
    if (info == nullptr || info->server_name == nullptr || info->server_version == nullptr) return;
    std::fprintf(stderr, "info: audio server %s %s\n", info->server_name, info->server_version);
    *static_cast<bool*>(said) = true;
}

}  // namespace

bool PulseConnection::announce() {
    bool said = false;
    if (!await(pa_context_get_server_info(context_, serverInfo, &said)) || !said) {
        sayFailure("error: cannot ask the audio server what it is");
        return false;
    }
    return true;
}

void PulseConnection::sayFailure(const char* prefix) const {
    std::fprintf(stderr, "%s: %s\n", prefix, pa_strerror(pa_context_errno(context_)));
}

}  // namespace linuxaudio
