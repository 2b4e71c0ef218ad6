#include "platform/pulse/connection.h"

#include <pulse/introspect.h>
#include <pulse/operation.h>

#include <cstdio>

namespace pulse {

namespace {

struct ServerInfoReply {
    Loop* loop;
    bool printed = false;
};

void serverInfo(pa_context* /*context*/, const pa_server_info* info, void* data) {
    auto* reply = static_cast<ServerInfoReply*>(data);
    if (info != nullptr && info->server_name != nullptr && info->server_version != nullptr) {
        std::fprintf(stderr, "info: audio server %s %s\n", info->server_name, info->server_version);
        reply->printed = true;
    }
    reply->loop->signal();
}

void waitFor(Loop& loop, pa_operation* operation) {
    if (operation == nullptr) return;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) loop.wait();
    pa_operation_unref(operation);
}

}  // namespace

void Connection::stateChanged(pa_context* context, void* self) {
    auto* c = static_cast<Connection*>(self);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            c->ready_ = true;
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            if (c->ready_ && c->lostCallback_ != nullptr) c->lostCallback_(c->lostData_);
            break;
        default:
            return;
    }
    c->loop_->signal();
}

Connection* Connection::open(bool announce) {
    auto* c = new Connection;
    c->loop_ = Loop::create();
    if (c->loop_ == nullptr) {
        delete c;
        return nullptr;
    }
    bool connected = false;
    {
        const Lock lock(*c);
        c->context_ = pa_context_new(c->loop_->api(), "procloop");
    }
    if (c->context_ == nullptr) {
        delete c;
        return nullptr;
    }
    {
        const Lock lock(*c);
        pa_context_set_state_callback(c->context_, stateChanged, c);
        if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            for (;;) {
                const pa_context_state_t state = pa_context_get_state(c->context_);
                if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) break;
                c->loop_->wait();
            }
            connected = pa_context_get_state(c->context_) == PA_CONTEXT_READY;
        }
        if (connected && announce) {
            ServerInfoReply reply{c->loop_};
            waitFor(*c->loop_, pa_context_get_server_info(c->context_, serverInfo, &reply));
        }
    }
    if (!connected) {
        delete c;
        return nullptr;
    }
    return c;
}

Connection::~Connection() {
    if (context_ != nullptr) {
        {
            const Lock lock(*this);
            lostCallback_ = nullptr;
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
        }
    }
    if (loop_ != nullptr) loop_->stop();
    if (context_ != nullptr) pa_context_unref(context_);
    delete loop_;
}

}  // namespace pulse
