#include "platform/pulse/sessions.h"

#include <pulse/introspect.h>
#include <pulse/operation.h>

#include <map>

#include "platform/pulse/tracker.h"

namespace pulse {
namespace {

struct Stream {
    std::uint32_t client;
    std::uint32_t pid;
    bool corked;
};

struct Replies {
    Loop* loop;
    std::map<std::uint32_t, std::uint32_t> clientPids;
    std::vector<Stream> streams;
};

void onClient(pa_context* /*c*/, const pa_client_info* info, int eol, void* data) {
    auto* r = static_cast<Replies*>(data);
    if (eol != 0 || info == nullptr) {
        r->loop->signal();
        return;
    }
    r->clientPids[info->index] = processIdOf(info->proplist);
}

void onSinkInput(pa_context* /*c*/, const pa_sink_input_info* info, int eol, void* data) {
    auto* r = static_cast<Replies*>(data);
    if (eol != 0 || info == nullptr) {
        r->loop->signal();
        return;
    }
    r->streams.push_back(Stream{info->client, processIdOf(info->proplist), info->corked != 0});
}

void waitFor(Loop* loop, pa_operation* operation) {
    if (operation == nullptr) return;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) loop->wait();
    pa_operation_unref(operation);
}

}  // namespace

std::vector<PlaybackSession> readPlaybackSessions(Connection& connection) {
    Replies replies{&connection.loop(), {}, {}};
    {
        const Connection::Lock lock(connection);
        // Native PipeWire streams carry their process on the client only.
        waitFor(replies.loop, pa_context_get_client_info_list(connection.context(), onClient, &replies));
        waitFor(replies.loop, pa_context_get_sink_input_info_list(connection.context(), onSinkInput, &replies));
    }
    std::map<std::uint32_t, bool> active;
    for (const Stream& s : replies.streams) {
        std::uint32_t pid = s.pid;
        if (pid == 0) {
            const auto client = replies.clientPids.find(s.client);
            if (client != replies.clientPids.end()) pid = client->second;
        }
        active[pid] = active[pid] || !s.corked;
    }
    std::vector<PlaybackSession> sessions;
    sessions.reserve(active.size());
    for (const auto& entry : active) sessions.push_back(PlaybackSession{entry.first, entry.second});
    return sessions;
}

}  // namespace pulse
