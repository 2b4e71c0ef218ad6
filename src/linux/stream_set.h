// The playback streams (sink-inputs) a capture takes, each with its monitor
// and FIFO, kept up to date from the server's events on the connection's
// loop. Which ones: selection.h, by the target's process tree, read again
// from /proc whenever a stream appears, so a child started during the
// capture is followed. A stream that moves to another sink is followed there;
// one that ends, or whose monitor fails, plays out what it delivered. A monitor
// the server refuses or ends while its stream still plays there is said in one
// warning line naming the stream's process and the server's reason, never
// dropped without a word.
#pragma once

#include <pulse/introspect.h>
#include <pulse/subscribe.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "linux/monitor.h"
#include "linux/pulse_connection.h"
#include "linux/selection.h"
#include "linux/stream_fifo.h"

namespace linuxaudio {

struct ClientFacts {
    std::uint32_t pid = 0;     // application.process.id
    std::uint32_t secPid = 0;  // pipewire.sec.pid
};
ClientFacts clientFacts(const pa_proplist* properties);
std::uint32_t streamPid(const pa_proplist* properties);
// This program's own client's pipewire.sec.pid (see selection.h); 0 on PulseAudio.
bool readBridgePid(PulseConnection& connection, std::uint32_t& pid);

class StreamSet final : Monitor::Listener {
public:
    StreamSet(PulseConnection& connection, std::uint32_t target, bool includeTree, std::uint32_t rate,
              std::uint32_t channels);
    ~StreamSet();
    StreamSet(const StreamSet&) = delete;
    StreamSet& operator=(const StreamSet&) = delete;

    // Follows the server's streams and opens the monitors of those taken now.
    // False, its error line written, when the server would not say.
    bool start();

    // The FIFOs to mix; changed only by the loop's callbacks and sweep().
    StreamFifo* const* inputs() const { return inputs_.data(); }
    std::size_t count() const { return inputs_.size(); }

    // Forgets the streams that ended and have played out.
    void sweep();

    // Warning lines since the last call ("warn: ...\n" each), for the program to write.
    std::string takeLines();

private:
    struct Stream {
        std::uint32_t index = 0;
        std::uint32_t client = PA_INVALID_INDEX;
        std::uint32_t sink = PA_INVALID_INDEX;
        std::uint32_t streamPid = 0;
        bool knowsClient = false;  // its client's facts were asked for and have come
        bool removed = false;
        Monitor monitor;
        StreamFifo fifo;
        bool fifoReady = false;
        std::uint32_t owner = 0;  // its process, once decided
        int failure = 0;          // why its monitor ended, until the server says whether the stream is still there
    };

    static void onEvent(pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* self);
    static void onSinkInput(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
    static void onClient(pa_context* c, const pa_client_info* info, int eol, void* self);
    static void onSink(pa_context* c, const pa_sink_info* info, int eol, void* self);
    void monitorFailed(std::uint32_t sinkInput, bool refused, int error) override;

    void decide(Stream& s);
    void openMonitor(Stream& s);
    void sayRefused(const Stream& s, int error);
    void rescanTree();
    void rebuildInputs();

    PulseConnection& connection_;
    std::uint32_t target_;
    std::uint64_t targetStart_ = 0;
    bool includeTree_;
    pa_sample_spec spec_{};
    std::uint32_t bridgePid_ = 0;
    bool running_ = false;
    std::vector<std::uint32_t> tree_;
    std::map<std::uint32_t, std::unique_ptr<Stream>> streams_;
    std::map<std::uint32_t, ClientFacts> clients_;
    std::map<std::uint32_t, std::string> sinkMonitors_;  // sink index -> its monitor source's name
    std::vector<StreamFifo*> inputs_;
    bool sweepNeeded_ = false;
    std::string lines_;
};

}  // namespace linuxaudio
