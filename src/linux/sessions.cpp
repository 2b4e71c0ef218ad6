#include "linux/sessions.h"

#include <map>

#include "linux/pulse_connection.h"
#include "linux/pulse_symbols.h"
#include "linux/selection.h"
#include "linux/stream_set.h"

namespace linuxaudio {

namespace {

struct Replies {
    std::map<std::uint32_t, ClientFacts> clients;
    std::vector<std::pair<StreamFacts, bool>> streams;  // and whether it plays
    std::vector<std::uint32_t> clientOf;
};

void onClient(pa_context* /*c*/, const pa_client_info* info, int eol, void* data) {
    if (eol == 0 && info != nullptr) static_cast<Replies*>(data)->clients[info->index] = clientFacts(info->proplist);
}

void onSinkInput(pa_context* /*c*/, const pa_sink_input_info* info, int eol, void* data) {
    if (eol != 0 || info == nullptr) return;
    auto* r = static_cast<Replies*>(data);
    StreamFacts facts;
    facts.streamPid = streamPid(info->proplist);
    r->streams.emplace_back(facts, info->corked == 0);
    r->clientOf.push_back(info->client);
}

}  // namespace

bool readSessions(std::vector<SessionOwner>& out) {
    const std::unique_ptr<PulseConnection> connection = PulseConnection::open();
    if (!connection) return false;
    pa_context* c = connection->context();
    Replies replies;
    std::uint32_t bridgePid = 0;
    if (!readBridgePid(*connection, bridgePid) ||
        !connection->await(pa_context_get_client_info_list(c, onClient, &replies)) ||
        !connection->await(pa_context_get_sink_input_info_list(c, onSinkInput, &replies))) {
        connection->sayFailure("error: cannot list the audio server's playback streams");
        return false;
    }
    std::map<std::uint32_t, bool> active;
    for (std::size_t i = 0; i < replies.streams.size(); ++i) {
        StreamFacts facts = replies.streams[i].first;
        facts.bridgePid = bridgePid;
        const auto client = replies.clients.find(replies.clientOf[i]);
        if (client != replies.clients.end()) {
            facts.clientPid = client->second.pid;
            facts.clientSecPid = client->second.secPid;
        }
        bool& playing = active[ownerOf(facts)];
        playing = playing || replies.streams[i].second;
    }
    out.clear();
    for (const auto& entry : active) out.push_back(SessionOwner{entry.first, entry.second});
    return true;
}

}  // namespace linuxaudio
